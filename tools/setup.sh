#!/usr/bin/env bash
# Installs the Debian packages that are missing: `setup.sh run` those that building and running
# need (tools/debian-packages-run.txt), `setup.sh` those and the tests' too.
# Without root it uses sudo only where that asks no password; otherwise it says in one line
# what to run and fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

lists=("$root/tools/debian-packages-run.txt")
[ "${1:-}" = run ] || lists+=("$root/tools/debian-packages-test.txt")
mapfile -t wanted < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "${lists[@]}")
missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null || ! sudo -n true 2>/dev/null; then
        echo "tarnwick: missing Debian packages; as root run: apt-get install ${missing[*]}" >&2
        exit 1
    fi
    as_root=(sudo DEBIAN_FRONTEND=noninteractive)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
