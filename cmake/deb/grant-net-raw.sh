#!/bin/sh
# Grants the program in $1 CAP_NET_RAW, permitted only, as Debian's ping has it: the program
# raises it for the one moment it opens its raw socket. The .deb's postinst runs this same text.
# Never fails: without the capability the program still runs and reports a failure status for
# each ping.
if ! command -v setcap >/dev/null 2>&1; then
    echo "tarnwick: setcap is missing, so $1 cannot ping for users" \
        "outside net.ipv4.ping_group_range" >&2
elif ! setcap cap_net_raw+p "$1"; then
    echo "tarnwick: setcap failed on $1 (the file system may not keep capabilities)," \
        "so it cannot ping for users outside net.ipv4.ping_group_range" >&2
fi
