#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Tarnwick and starts it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/tools/setup.sh"

build_dir="$root/build-release"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target tarnwick
program="$build_dir/app/tarnwick"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "tarnwick: built $program, but there is no display to show it on (DISPLAY and WAYLAND_DISPLAY are unset)."
    exit 0
fi

# Pinging needs a ping socket (the user's group inside net.ipv4.ping_group_range) or
# CAP_NET_RAW on the program, as Debian's ping has.
read -r low high < /proc/sys/net/ipv4/ping_group_range
allowed=0
for group in $(id -G); do
    if [ "$group" -ge "$low" ] && [ "$group" -le "$high" ]; then allowed=1; fi
done
if [ "$(id -u)" -ne 0 ] && [ "$allowed" -eq 0 ] && ! getcap "$program" | grep -q cap_net_raw; then
    echo "Granting $program CAP_NET_RAW so that it can ping (as Debian's ping has it):"
    echo "  sudo setcap cap_net_raw+ep $program"
    sudo setcap cap_net_raw+ep "$program" || echo "Not granted: pings will report a failure status."
fi
exec "$program"
