#!/usr/bin/env bash
# Builds the .deb from this checkout, installs it, starts the installed program, shows that an
# unprivileged user can ping 127.0.0.1 only through the postinst's capability step, then purges
# the package and checks that nothing is left. Needs root (dpkg -i). Prints PASS/FAIL lines and
# exits non-zero when any check fails.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir="$root/build-deb"
program=/usr/bin/tarnwick
startup_seconds=2

failures=0
installed_by_us=0
program_pid=
scratch=$(mktemp -d)
chmod 755 "$scratch"

cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill -KILL "$program_pid" 2>/dev/null
        wait "$program_pid" 2>/dev/null
    fi
    if [ "$installed_by_us" -eq 1 ] && dpkg -s tarnwick >/dev/null 2>&1; then
        dpkg --purge tarnwick >/dev/null 2>&1
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

pass() { echo "PASS: $1"; }
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: runs the command, shows its output only when it fails.
check() {
    local description=$1
    shift
    if "$@" >"$scratch/out" 2>&1; then
        pass "$description"
    else
        fail "$description"
        sed 's/^/    /' "$scratch/out"
    fi
}
# Stops at once: later steps depend on this one.
fatal() {
    echo "FAIL: $1"
    [ -s "$scratch/out" ] && sed 's/^/    /' "$scratch/out"
    echo "deb-test: stopped after a failure the remaining checks depend on"
    exit 1
}
field() { dpkg-deb -f "$deb" "$1"; }
# Runs what follows as nobody:nogroup, no supplementary groups, no inheritable capabilities.
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all)

if [ "$(id -u)" -ne 0 ]; then
    echo "FAIL: deb-test.sh installs a package and switches users, so it must run as root"
    exit 1
fi
if dpkg -s tarnwick >/dev/null 2>&1; then
    echo "FAIL: a tarnwick package is already on this machine; remove it first" \
        "(dpkg --purge tarnwick) so the test can check that purging leaves nothing behind"
    exit 1
fi
bash "$root/tools/setup.sh" || fatal "tools/setup.sh installs the build and test packages"

# ---- Build the package ----
echo "deb-test: building a Release tree in $build_dir"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_GUI=ON \
    -DTARNWICK_BUILD_TESTS=ON -DTARNWICK_SANITIZE=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    >"$scratch/out" 2>&1 || fatal "cmake configures the Release tree"
cmake --build "$build_dir" -j"$(nproc)" --target tarnwick tarnwick_ping_once >"$scratch/out" 2>&1 ||
    fatal "the program and the ping probe build"
rm -f "$build_dir"/tarnwick_*.deb
(cd "$build_dir" && cpack -G DEB) >"$scratch/out" 2>&1 || fatal "cpack builds the .deb"
debs=("$build_dir"/tarnwick_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fatal "cpack writes exactly one tarnwick_*.deb"
deb=${debs[0]}
pass "cpack built $(basename "$deb")"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")

# ---- Contents and control fields ----
dpkg-deb -c "$deb" >"$scratch/contents" || fatal "dpkg-deb lists the package"
awk '{print $6}' "$scratch/contents" | sed -e 's|^\./|/|' -e 's|/$||' >"$scratch/paths"
icons=/usr/share/icons/hicolor
for path in "$program" /usr/share/applications/tarnwick.desktop \
    $icons/16x16/apps/tarnwick.png $icons/32x32/apps/tarnwick.png \
    $icons/48x48/apps/tarnwick.png $icons/128x128/apps/tarnwick.png \
    /usr/share/doc/tarnwick/copyright; do
    check "the package holds $path" grep -qxF "$path" "$scratch/paths"
done
check "the package holds a scalable or 256px icon" grep -qE \
    '^/usr/share/icons/hicolor/(scalable/apps/tarnwick\.svg|256x256/apps/tarnwick\.png)$' \
    "$scratch/paths"
check "the package holds one AppStream metainfo file" \
    test "$(grep -c '^/usr/share/metainfo/.*\.metainfo\.xml$' "$scratch/paths")" -eq 1
check "everything in the package lies under /usr" bash -c "! grep -v '^/usr' '$scratch/paths'"
check "everything in the package belongs to root" \
    bash -c "! awk '{print \$2}' '$scratch/contents' | grep -vxq root/root"
check "the program is executable in the package" \
    grep -qE '^-rwxr-xr-x .* \./usr/bin/tarnwick$' "$scratch/contents"

check "Package is tarnwick" test "$(field Package)" = tarnwick
check "Version is the project version $version" test "$(field Version)" = "$version"
check "Architecture is this machine's ($(dpkg --print-architecture))" \
    test "$(field Architecture)" = "$(dpkg --print-architecture)"
check "Section is net" test "$(field Section)" = net
check "Maintainer is set" test -n "$(field Maintainer)"
depends=$(field Depends)
echo "      Depends: $depends"
# Package names alone, one a line, without versions and alternatives' bars.
sed -e 's/ *([^)]*)//g' -e 's/ *[,|] */\n/g' <<<"$depends" >"$scratch/depends"
for library in libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6 libc6 libcap2-bin; do
    check "Depends names $library" grep -qxF "$library" "$scratch/depends"
done
check "Recommends xdg-utils, which opens the About window's links" \
    test "$(field Recommends)" = xdg-utils
dpkg-deb -e "$deb" "$scratch/control" || fatal "dpkg-deb extracts the control files"
check "the package carries an executable postinst" test -x "$scratch/control/postinst"
# Where setcap is missing or fails, the postinst says so and the installation goes on. Its
# PATH holds nothing or a setcap that fails, so these runs change nothing on the machine.
mkdir -m 755 "$scratch/failing-setcap"
printf '#!/bin/sh\nexit 1\n' >"$scratch/failing-setcap/setcap"
chmod 755 "$scratch/failing-setcap/setcap"
for search_path in /nonexistent "$scratch/failing-setcap"; do
    case_name="setcap missing"
    [ "$search_path" = /nonexistent ] || case_name="setcap failing"
    PATH="$search_path" /bin/sh "$scratch/control/postinst" configure >"$scratch/postinst.out" 2>&1
    status=$?
    check "the postinst with $case_name succeeds (exit $status) and says why" \
        bash -c "[ $status -eq 0 ] && grep -q 'cannot ping' '$scratch/postinst.out'"
done

# ---- Install ----
# Directories of the package that exist now must survive the purge; the others must not.
while read -r path; do
    [ -d "$path" ] && echo "$path"
done <"$scratch/paths" >"$scratch/dirs-before"
dpkg -i "$deb" >"$scratch/out" 2>&1 || fatal "dpkg -i installs the package"
installed_by_us=1
pass "dpkg -i installed the package"
check "dpkg reports the package installed" \
    test "$(dpkg-query -W -f='${Status}' tarnwick)" = "install ok installed"
missing=$(dpkg -L tarnwick | while read -r path; do [ -e "$path" ] || echo "$path"; done)
check "every file of the package is on disk" test -z "$missing"
check "the installed desktop entry is valid" \
    desktop-file-validate /usr/share/applications/tarnwick.desktop
check "the installed metainfo is valid" \
    bash -c 'appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml'
exec_command=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' /usr/share/applications/tarnwick.desktop)
check "the desktop entry's Exec ($exec_command) finds the installed program" \
    test "$(command -v "$exec_command")" = "$program"
check "the program finds all its libraries" bash -c "! ldd $program | grep -q 'not found'"
check "the postinst granted cap_net_raw (getcap: $(getcap "$program"))" \
    bash -c "getcap $program | grep -qE 'cap_net_raw[=+]ep'"

# ---- The installed program starts headless and closes cleanly ----
home="$scratch/home"
mkdir -m 700 "$home" && chown nobody:nogroup "$home"
"${as_nobody[@]}" env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home" \
    QT_QPA_PLATFORM=offscreen "$program" >"$scratch/program.log" 2>&1 &
program_pid=$!
sleep "$startup_seconds"
if kill -0 "$program_pid" 2>/dev/null; then
    pass "tarnwick is still running ${startup_seconds}s after starting offscreen as nobody"
    kill -TERM "$program_pid"
    wait "$program_pid"
    status=$?
    # SIGTERM's default action ends a Qt program with status 143; anything else is a fault.
    if [ "$status" -eq 0 ] || [ "$status" -eq 143 ]; then
        pass "tarnwick ended on SIGTERM without a crash (exit status $status)"
    else
        fail "tarnwick ended on SIGTERM with exit status $status"
        sed 's/^/    /' "$scratch/program.log"
    fi
else
    wait "$program_pid"
    fail "tarnwick exited within ${startup_seconds}s of starting (exit status $?)"
    sed 's/^/    /' "$scratch/program.log"
fi
program_pid=
# On a real X display the window must be mapped under its title within 5 s.
cat >"$scratch/window-check.sh" <<'EOF'
"$1" &
pid=$!
for attempt in $(seq 20); do
    if xwininfo -root -tree | grep -q '"Tarnwick": '; then
        kill "$pid"
        wait "$pid"
        exit 0
    fi
    sleep 0.25
done
xwininfo -root -tree
kill "$pid"
exit 1
EOF
check "tarnwick maps a window titled Tarnwick on an X display (Xvfb)" \
    xvfb-run -a -s "-screen 0 1024x768x24" bash "$scratch/window-check.sh" "$program"

# ---- An unprivileged user pings 127.0.0.1 only with the postinst's capability ----
# The runs happen in a fresh network namespace: its loopback is real, and its
# net.ipv4.ping_group_range is the kernel's "1 0" whatever the machine has, so ping sockets are
# closed to nobody and only CAP_NET_RAW can make the echo work.
probe="$build_dir/tests/packaging/tarnwick_ping_once"
mkdir -m 755 "$scratch/granted" "$scratch/plain"
install -m 755 "$probe" "$scratch/granted/tarnwick_ping_once"
install -m 755 "$probe" "$scratch/plain/tarnwick_ping_once"
sh "$root/cmake/deb/grant-net-raw.sh" "$scratch/granted/tarnwick_ping_once"
check "the postinst's step granted the probe cap_net_raw" \
    bash -c "getcap '$scratch/granted/tarnwick_ping_once' | grep -qE 'cap_net_raw[=+]ep'"
in_fresh_network() { unshare --net -- sh -c 'ip link set lo up && exec "$@"' sh "$@"; }
nogroup=$(getent group nogroup | cut -d: -f3)
read -r low high < <(in_fresh_network cat /proc/sys/net/ipv4/ping_group_range)
check "ping sockets are closed to nogroup ($nogroup) in the test's namespace (range $low $high)" \
    test "$nogroup" -lt "$low" -o "$nogroup" -gt "$high"

in_fresh_network "${as_nobody[@]}" "$scratch/granted/tarnwick_ping_once" >"$scratch/granted.out" \
    2>"$scratch/granted.err"
status=$?
line=$(head -n 1 "$scratch/granted.out")
if [ "$status" -eq 0 ] && [ "$line" = "0   [ ip success ]" ]; then
    pass "nobody pings 127.0.0.1 with the capability: $line ($(cat "$scratch/granted.err"))"
else
    fail "nobody pings 127.0.0.1 with the capability: exit $status, '$line'"
    sed 's/^/    /' "$scratch/granted.err"
fi
in_fresh_network "${as_nobody[@]}" "$scratch/plain/tarnwick_ping_once" >"$scratch/plain.out" \
    2>"$scratch/plain.err"
status=$?
line=$(head -n 1 "$scratch/plain.out")
if [ "$status" -eq 1 ] && [ -n "$line" ] && [ "$line" != "0   [ ip success ]" ]; then
    pass "nobody without the capability gets a failure status, no crash: $line"
else
    fail "nobody without the capability: exit $status, '$line' (wanted 1 and a failure status)"
    sed 's/^/    /' "$scratch/plain.err"
fi

# ---- Purge ----
dpkg -L tarnwick >"$scratch/installed-paths"
if dpkg --purge tarnwick >"$scratch/out" 2>&1; then
    pass "dpkg --purge removed the package"
    installed_by_us=0
else
    fail "dpkg --purge removed the package"
    sed 's/^/    /' "$scratch/out"
fi
check "dpkg -s says tarnwick is not installed" bash -c '! dpkg -s tarnwick'
left=$(while read -r path; do
    if [ -d "$path" ]; then
        grep -qxF "$path" "$scratch/dirs-before" || echo "$path"
    elif [ -e "$path" ] || [ -L "$path" ]; then
        echo "$path"
    fi
done <"$scratch/installed-paths")
check "nothing of the package is left on disk" test -z "$left"
[ -z "$left" ] || sed 's/^/    left: /' <<<"$left"
check "dpkg keeps no records of the package" \
    bash -c "! ls /var/lib/dpkg/info/tarnwick.* 2>/dev/null | grep -q ."

if [ "$failures" -ne 0 ]; then
    echo "deb-test: $failures check(s) failed"
    exit 1
fi
echo "deb-test: all checks passed"
