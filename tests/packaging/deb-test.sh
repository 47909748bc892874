#!/usr/bin/env bash
# Builds the .deb with cpack, checks its contents and control fields, installs it, runs the
# program and a ping probe as an unprivileged user, purges it and checks nothing is left.
# Usage: deb-test.sh [BUILD_DIR]; without one, a Release tree is built in build-deb/. Needs root
# (dpkg, setpriv) and a machine without a tarnwick package.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=${1:-$root/build-deb}
program=/usr/bin/tarnwick
echo_program=/usr/libexec/tarnwick/tarnwick-echo
scratch=$(mktemp -d)
chmod 755 "$scratch"
failures=0
trap '[ -n "${installed:-}" ] && dpkg --purge tarnwick >/dev/null 2>&1; rm -rf "$scratch"' EXIT
check() { # check DESCRIPTION COMMAND...: one PASS or FAIL line, the command's output on failure
    local description=$1
    shift
    if "$@" >"$scratch/out" 2>&1; then
        echo "PASS: $description"
    else
        echo "FAIL: $description"
        sed 's/^/    /' "$scratch/out"
        failures=$((failures + 1))
    fi
}
fatal() { check "$@" || true; [ "$failures" -eq 0 ] || { echo "deb-test: stopped"; exit 1; }; }
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all)

fatal "runs as root" test "$(id -u)" -eq 0
fatal "no tarnwick package is installed yet (dpkg --purge tarnwick first)" bash -c '! dpkg -s tarnwick'
[ -n "${1:-}" ] || cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fatal "the program and the ping probe build" \
    cmake --build "$build_dir" -j"$(nproc)" --target tarnwick tarnwick-echo tarnwick_ping_once tarnwick_probe_style
rm -f "$build_dir"/tarnwick_*.deb
fatal "cpack builds the .deb" bash -c "cd '$build_dir' && cpack -G DEB"
deb=$(ls "$build_dir"/tarnwick_*.deb)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")

dpkg-deb -c "$deb" >"$scratch/contents"
awk '{print $6}' "$scratch/contents" | sed -e 's|^\./|/|' -e 's|/$||' >"$scratch/paths"
icons=/usr/share/icons/hicolor
for path in "$program" "$echo_program" /usr/share/applications/tarnwick.desktop /usr/share/doc/tarnwick/{copyright,changelog.gz} \
    /usr/share/man/man1/tarnwick.1.gz $icons/{16x16,32x32,48x48,128x128,256x256}/apps/tarnwick.png; do
    check "the package holds $path" grep -qxF "$path" "$scratch/paths"
done
check "the package holds one metainfo file" test "$(grep -c '^/usr/share/metainfo/.*\.metainfo\.xml$' "$scratch/paths")" -eq 1
check "everything lies under /usr and belongs to root" \
    bash -c "! grep -v '^/usr' '$scratch/paths' && ! awk '{print \$2}' '$scratch/contents' | grep -vxq root/root"
check "the programs are executable" bash -c "grep -qE '^-rwxr-xr-x .* \./usr/bin/tarnwick$' '$scratch/contents' &&
    grep -qE '^-rwxr-xr-x .* \./usr/libexec/tarnwick/tarnwick-echo$' '$scratch/contents'"
check "the control fields" test "$(dpkg-deb -f "$deb" Package Version Architecture Section Recommends)" = \
    "$(printf 'Package: tarnwick\nVersion: %s\nArchitecture: %s\nSection: net\nRecommends: xdg-utils, qt6-wayland' "$version" "$(dpkg --print-architecture)")"
check "Depends names libqt6widgets6, libqt6network6 and libcap2-bin" bash -c \
    "for l in libqt6widgets6 libqt6network6 libcap2-bin; do dpkg-deb -f '$deb' Depends | grep -qw \$l || exit 1; done"
dpkg-deb -e "$deb" "$scratch/control"
dpkg-deb -x "$deb" "$scratch/unpacked"
check "hardening-check: PIE, stack protector, fortify, RELRO and immediate binding" bash -c \
    "hardening-check '$scratch/unpacked$program' | grep -cE \
    '(Executable|protected|functions|relocations|binding): yes' | grep -qx 5"
cp "$deb" "$scratch/"
check "lintian reports no error and no warning" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env HOME=/nonexistent lintian --fail-on error,warning --display-info "$scratch/${deb##*/}"
sed -n 's/^I: /    lintian info: /p' "$scratch/out" # kept in sight, not failed on
check "the manual page renders without warnings" bash -c "warnings=\$(man --warnings -l \
    '$scratch/unpacked/usr/share/man/man1/tarnwick.1.gz' 2>&1 >/dev/null); echo \"\$warnings\"; [ -z \"\$warnings\" ]"
printf '#!/bin/sh\nexit 1\n' >"$scratch/setcap" && chmod 755 "$scratch/setcap"
for search_path in /nonexistent "$scratch"; do
    check "the postinst succeeds and says why when setcap is missing or fails ($search_path)" bash -c \
        "set -o pipefail; PATH='$search_path' /bin/sh '$scratch/control/postinst' configure 2>&1 | grep 'cannot ping'"
done

find /usr -type d >"$scratch/dirs-before"
installed=1
fatal "dpkg -i installs the package" dpkg -i "$deb"
check "the installed desktop entry is valid" desktop-file-validate /usr/share/applications/tarnwick.desktop
check "the installed metainfo is valid" bash -c 'appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml'
check "the desktop entry's Exec finds the program" test "$(command -v "$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' \
    /usr/share/applications/tarnwick.desktop)")" = "$program"
check "the postinst granted the echo program cap_net_raw, permitted only, and tarnwick nothing" bash -c \
    "getcap $echo_program | grep -qE ' cap_net_raw[=+]p$' && [ -z \"\$(getcap $program)\" ]"
check "the postinst leaves a program under dpkg-statoverride alone" bash -c "setcap -r $echo_program &&
    dpkg-statoverride --add root root 0755 $echo_program && /var/lib/dpkg/info/tarnwick.postinst configure &&
    [ -z \"\$(getcap $echo_program)\" ]"
dpkg-statoverride --remove $echo_program >/dev/null 2>&1
/var/lib/dpkg/info/tarnwick.postinst configure # the grant back, for the checks below
mkdir -m 700 "$scratch/home" && chown nobody:nogroup "$scratch/home"
check "tarnwick runs 2 s offscreen as nobody and ends on SIGTERM" bash -c "
    ${as_nobody[*]} env -i PATH=/usr/bin:/bin HOME='$scratch/home' XDG_RUNTIME_DIR='$scratch/home' \
        QT_QPA_PLATFORM=offscreen $program & sleep 2; kill -0 \$! && kill \$!; wait \$!; s=\$?; [ \$s -eq 143 ] || [ \$s -eq 0 ]"
check "tarnwick maps a window titled Tarnwick under Xvfb, and root's keeps its capabilities" xvfb-run -a -s "-screen 0 1024x768x24" bash -c "
    $program & for i in \$(seq 120); do xwininfo -root -tree | grep -q '\"Tarnwick\": ' && grep -q 'CapEff:.*[1-9a-f]' /proc/\$!/status && kill \$! && exit 0; sleep 0.25; done; kill \$!; exit 1"

# Run by nobody under Xvfb in a fresh network namespace, with a Qt plugin of the test's own on
# QT_PLUGIN_PATH as any user could: under the package's grant (+p) and the old +ep with ping
# sockets closed to nogroup, and with ping sockets open, it holds no capability while its window is up, the plugin may open neither a
# packet socket nor a raw one, and the window's Ping answers from 127.0.0.1.
probe_window() { # PROGRAM GROUPS: the plugin's report, then the capability sets /proc shows with the window up
    unshare --net -- sh -c 'ip link set lo up && sysctl -qw net.ipv4.ping_group_range="$0" && exec "$@"' "$2" \
        "${as_nobody[@]}" env -i HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/home" DISPLAY="$DISPLAY" \
        QT_PLUGIN_PATH="$scratch" QT_STYLE_OVERRIDE=tarnwickprobe "$1" >"$scratch/report" 2>/dev/null &
    for i in $(seq 120); do xwininfo -root -tree | grep -q '"Tarnwick": ' && grep -q ping "$scratch/report" && break; sleep 0.25; done
    grep -E '^Cap(Inh|Prm|Eff|Amb):' /proc/$!/status >>"$scratch/report"
    kill $!
}
mkdir -m 755 "$scratch/styles" "$scratch/+ep" "$scratch/+p" && cp "$build_dir"/tests/packaging/*probe_style.so "$scratch/styles/"
zeros=$(printf '%s:\t0000000000000000\n' CapInh CapPrm CapEff CapAmb)
{ echo 'probe: loaded'; sed 's/^/probe: /' <<<"$zeros"; printf 'probe: %s\n' 'AF_PACKET raw socket EPERM' \
    'AF_INET raw ICMP socket EPERM' 'ping 127.0.0.1: 0   [ ip success ]' 'ICMP sockets held after the ping: 0'
    echo "$zeros"; } >"$scratch/expected"
for run in 'package:1 0' '+ep:1 0' '+p:0 2147483647'; do
    grant=${run%%:*} copy=$program
    # A copy granted as an old install or a user's setcap left it, its echo program beside it.
    [ $grant = package ] || { copy=$scratch/$grant/tarnwick && cp $program $echo_program $scratch/$grant/ &&
        setcap cap_net_raw$grant $copy && setcap cap_net_raw+p $scratch/$grant/tarnwick-echo; }
    check "nobody's tarnwick ($grant, ping groups ${run#*:}) holds no capability with its window up, nor a plugin in it; Ping answers" \
        xvfb-run -a -s "-ac -screen 0 1024x768x24" bash -c "$(declare -p scratch as_nobody; declare -f probe_window)
        probe_window $copy '${run#*:}'; diff $scratch/expected $scratch/report"
done

# Without the grant, and with ping sockets closed to nogroup, a ping fails with a status; the
# granted program's ping is the window's, above.
in_fresh_network() { unshare --net -- sh -c 'ip link set lo up && exec "$@"' sh "$@"; }
mkdir -m 755 "$scratch/plain" && install -m 755 "$build_dir/tests/packaging/tarnwick_ping_once" $echo_program "$scratch/plain/"
check "nobody without the grant gets a failure status, no crash" bash -c \
    "$(declare -f in_fresh_network); in_fresh_network ${as_nobody[*]} '$scratch/plain/tarnwick_ping_once'; [ \$? -eq 1 ]"

dpkg -L tarnwick >"$scratch/installed-paths"
check "dpkg --purge removes the package" dpkg --purge tarnwick && installed=
check "nothing of the package is left" bash -c "while read -r p; do [ -d \"\$p\" ] && grep -qxF \"\$p\" '$scratch/dirs-before' && continue; \
    [ -e \"\$p\" ] && exit 1; done <'$scratch/installed-paths'; ! ls /var/lib/dpkg/info/tarnwick.* 2>/dev/null"
[ "$failures" -eq 0 ] && echo "deb-test: all checks passed" || { echo "deb-test: $failures check(s) failed"; exit 1; }
