#!/usr/bin/env bash
# The installed package's tests: autopkgtest runs them as root from the source tree
# (debian/tests/control) on a machine with the package installed. They look only at the
# package's own files, run the program as nobody with a Qt plugin of their own on its plugin
# path, and end by purging the package and checking that nothing of it is left.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
program=/usr/bin/tarnwick echo_program=/usr/libexec/tarnwick/tarnwick-echo postinst=/var/lib/dpkg/info/tarnwick.postinst
scratch=$(mktemp -d "${AUTOPKGTEST_TMP:-/tmp}/tarnwick-installed.XXXXXX") && chmod 755 "$scratch" && trap 'rm -rf "$scratch"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...: one PASS or FAIL line, the command's output on failure
    "${@:2}" >"$scratch/out" 2>&1 && echo "PASS: $1" && return
    echo "FAIL: $1" && sed 's/^/    /' "$scratch/out" && failures=$((failures + 1)) && return 1
}
stop() { echo "installed-package: stopped" && exit 1; }
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all)
own() { dpkg -L tarnwick | grep -xE "$1"; } # the package's own files whose paths match

check "runs as root with the tarnwick package installed" bash -c '[ "$(id -u)" -eq 0 ] && dpkg -s tarnwick' || stop
desktop_file=$(own '/usr/share/applications/[^/]*\.desktop')
check "the package's desktop entry is valid" desktop-file-validate "$desktop_file"
# shellcheck disable=SC2046 # each of its metainfo files, and a failure where it has none
check "the package's metainfo is valid" appstreamcli validate --no-net $(own '/usr/share/metainfo/[^/]*\.xml')
check "the desktop entry's Exec finds the program" test "$(command -v "$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' \
    "$desktop_file")")" = "$program"
check "the manual page renders without warnings" bash -c "warnings=\$(man --warnings -l \
    $(own '/usr/share/man/man1/tarnwick\.1\.gz') 2>&1 >/dev/null) && echo \"\$warnings\" && [ -z \"\$warnings\" ]"
check "hardening-check on the program: PIE, stack protector, fortify, RELRO and immediate binding" bash -c \
    "hardening-check $program | grep -cE '(Executable|protected|functions|relocations|binding): yes' | grep -qx 5"
# The echo program is built with the same flags, but calls no function whose fortified form the
# compiler could choose, so hardening-check finds none there.
check "hardening-check on the echo program: PIE, stack protector, RELRO and immediate binding" bash -c \
    "hardening-check $echo_program | grep -cE '(Executable|protected|relocations|binding): yes' | grep -qx 4"

# The grant: on the echo program alone, permitted only; an administrator's statoverride wins.
check "the echo program alone holds cap_net_raw, permitted only" bash -c \
    "getcap $echo_program | grep -qE ' cap_net_raw[=+]p$' && [ -z \"\$(getcap $program)\" ]"
check "the postinst leaves a program under dpkg-statoverride alone" bash -c "setcap -r $echo_program &&
    dpkg-statoverride --add root root 0755 $echo_program && $postinst configure && [ -z \"\$(getcap $echo_program)\" ]"
dpkg-statoverride --remove $echo_program >/dev/null 2>&1
mkdir -m 755 "$scratch/missing" "$scratch/failing" && install -m 755 /bin/false "$scratch/failing/setcap"
for bin in missing failing; do
    ln -s "$(command -v dpkg-statoverride)" "$scratch/$bin/"
    check "the postinst succeeds and says why when setcap is $bin" bash -c \
        "set -o pipefail; PATH='$scratch/$bin' /bin/sh $postinst configure 2>&1 | grep 'cannot ping'"
done
$postinst configure # the grant back, for the checks below

check "tarnwick maps a window titled Tarnwick under Xvfb, and root's keeps its capabilities" xvfb-run -a -s "-screen 0 1024x768x24" bash -c "
    $program & for i in \$(seq 120); do xwininfo -root -tree | grep -q '\"Tarnwick\": ' && grep -q 'CapEff:.*[1-9a-f]' /proc/\$!/status && kill \$! && exit 0; sleep 0.25; done; kill \$!; exit 1"

# Run by nobody under Xvfb in a fresh network namespace, with the test's own Qt plugin on
# QT_PLUGIN_PATH as any user could; each property below is checked on its own line, the window's
# capabilities as the plugin inside it reports them and as /proc shows them.
probe_window() { # PROGRAM GROUPS: the plugin's report, then what /proc shows of the window and the echo program
    unshare --net -- sh -c 'ip link set lo up && sysctl -qw net.ipv4.ping_group_range="$0" && exec "$@"' "$2" \
        "${as_nobody[@]}" env -i HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/home" DISPLAY="$DISPLAY" \
        QT_PLUGIN_PATH="$scratch/plugins" QT_STYLE_OVERRIDE=tarnwickprobe "$1" >"$scratch/report" 2>/dev/null &
    for _ in $(seq 120); do xwininfo -root -tree | grep -q '"Tarnwick": ' && grep -q ICMP "$scratch/report" && break; sleep 0.25; done
    grep -E '^Cap(Inh|Prm|Eff|Amb):' /proc/$!/status | sed 's/^/window: /' >>"$scratch/report"
    echo "echo programs: $(pgrep -c -P $!)" >>"$scratch/report"
    grep -E '^(Cap(Inh|Prm|Eff|Amb)|NoNewPrivs|Seccomp):' "/proc/$(pgrep -P $!)/status" | sed 's/^/echo: /' >>"$scratch/report"
    kill $!
}
reported() { # LINE...: each a line of the probe's report; where one is not, the report and the session's output
    for line; do grep -qxF -- "$line" "$scratch/report" || { echo "not reported: $line"; cat "$scratch/report" "$scratch/session"; return 1; }; done; }
mkdir -m 700 "$scratch/home" && chown nobody:nogroup "$scratch/home" && mkdir -m 755 "$scratch/plugins" "$scratch/plugins/styles" "$scratch/+ep"
check "the probe plugin builds" bash -c "cmake -S '$root/tests/packaging' -B '$scratch/probe' -DCMAKE_BUILD_TYPE=Release &&
    cmake --build '$scratch/probe' -j$(nproc) && cp '$scratch'/probe/*probe_style.so '$scratch/plugins/styles/'" || stop
mapfile -t zeros < <(printf '%s:\t0000000000000000\n' CapInh CapPrm CapEff CapAmb)
# The package as installed; a copy granted +ep as an old install or a user's setcap may leave it,
# its echo program beside it; the package with no grant where ping sockets are open to all.
cp $program $echo_program "$scratch/+ep/" && setcap cap_net_raw+ep "$scratch/+ep/tarnwick" &&
    setcap cap_net_raw+p "$scratch/+ep/tarnwick-echo"
for run in "granted:$program:1 0" "+ep:$scratch/+ep/tarnwick:1 0" "not granted:$program:0 2147483647"; do
    IFS=: read -r grant copy groups <<<"$run" && who="nobody's tarnwick ($grant, ping groups $groups)"
    [ "$grant" != "not granted" ] || setcap -r $echo_program
    rm -f "$scratch/report" && xvfb-run -a -s "-ac -screen 0 1024x768x24" bash -c "$(declare -p scratch as_nobody
        declare -f probe_window); probe_window $copy '$groups'" >"$scratch/session" 2>&1
    check "$who: its window's process holds no capability" reported "${zeros[@]/#/probe: }" "${zeros[@]/#/window: }"
    check "$who: a plugin in it may not open a packet socket" reported 'probe: AF_PACKET raw socket EPERM'
    check "$who: a plugin in it may not open a raw ICMP socket" reported 'probe: AF_INET raw ICMP socket EPERM'
    check "$who: Ping answers from 127.0.0.1" reported 'probe: ping 127.0.0.1: 0   [ ip success ]'
    check "$who: its window holds no ICMP socket after the ping" reported 'probe: ICMP sockets held after the ping: 0'
    check "$who: one echo program serves it, holding no capability" reported 'echo programs: 1' "${zeros[@]/#/echo: }"
    check "$who: its echo program may gain no privilege" reported $'echo: NoNewPrivs:\t1'
    check "$who: its echo program runs under its seccomp filter" reported $'echo: Seccomp:\t2'
done

dpkg -L tarnwick >"$scratch/installed-paths"
check "dpkg --purge removes the package" dpkg --purge tarnwick
# A directory may stay where another package owns it or where it holds what is not ours.
check "nothing of the package is left" bash -c "while read -r p; do [ -e \"\$p\" ] || continue
    [ -d \"\$p\" ] && { dpkg -S \"\$p\" || [ -n \"\$(ls -A \"\$p\")\" ]; } >/dev/null 2>&1 && continue
    echo \"left: \$p\"; exit 1; done <'$scratch/installed-paths'
    ! ls /var/lib/dpkg/info/tarnwick.* 2>/dev/null && ! dpkg-statoverride --list $echo_program"
[ "$failures" -eq 0 ] && echo "installed-package: all checks passed" || { echo "installed-package: $failures check(s) failed"; exit 1; }
