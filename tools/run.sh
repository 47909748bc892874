#!/usr/bin/env bash
# Sets up a Debian 12 or 13 machine, builds Tarnwick and starts it. Root is used only for
# apt-get and setcap: a run as root builds as the checkout's owner, so no run leaves files that
# the next one, by another user, cannot write.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Builds in Release and prints the program's path; runs as the user who builds.
build() {
    local build_dir="$root/build-release"
    # A tree this user cannot write (the checkout is another's, or an older run left files of
    # root's) is left alone: build in the user's cache instead.
    if ! [ -w "$root" ] || { [ -e "$build_dir" ] &&
        [ -n "$(find "$build_dir" ! -writable -print -quit 2>/dev/null)" ]; }; then
        build_dir="${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick/build-release"
    fi
    cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_TESTS=OFF \
        >/dev/null
    cmake --build "$build_dir" -j"$(nproc)" --target tarnwick tarnwick-echo >&2
    echo "$build_dir/app/tarnwick"
}
if [ "${1:-}" = --build ]; then
    build
    exit
fi

bash "$root/tools/setup.sh" run
builder=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    builder=${SUDO_USER:-$(stat -c %U "$root")}
fi
if [ "$builder" != "$(id -un)" ]; then
    program=$(runuser -u "$builder" -- bash "$root/tools/run.sh" --build)
else
    program=$(build)
fi

# Pinging needs CAP_NET_RAW permitted to the echo program beside tarnwick (as Debian's ping has
# it: "+p", raised only while its socket opens) unless the user's group lies inside
# net.ipv4.ping_group_range; root needs neither. tarnwick itself needs no grant.
echo_program="$(dirname "$program")/tarnwick-echo"
read -r low high </proc/sys/net/ipv4/ping_group_range
allowed=0
for group in $(id -G "$builder"); do
    if [ "$group" -ge "$low" ] && [ "$group" -le "$high" ]; then allowed=1; fi
done
# getcap lives in /sbin, which a normal user's PATH leaves out.
if [ "$allowed" -eq 0 ] && ! PATH="$PATH:/usr/sbin:/sbin" getcap "$echo_program" | grep -q 'cap_net_raw=p$'; then
    if [ "$(id -u)" -eq 0 ]; then
        setcap cap_net_raw+p "$echo_program" ||
            echo "tarnwick: this file system keeps no capabilities; pings by users will fail"
    elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
        sudo setcap cap_net_raw+p "$echo_program"
    else
        echo "tarnwick: pings will fail until root runs: setcap cap_net_raw+p $echo_program"
    fi
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "tarnwick: built $program, but there is no display to show it on (DISPLAY and WAYLAND_DISPLAY are unset)."
    exit 0
fi
exec "$program"
