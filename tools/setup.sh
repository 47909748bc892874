#!/usr/bin/env bash
# Installs the Debian packages that are missing: `setup.sh run` those that building and running
# need (debian/control's build dependencies and tools/debian-packages-run.txt), `setup.sh`
# those, the build dependencies of the tests and the tests' own (tools/debian-packages-test.txt).
# Without root it uses sudo only where that asks no password; otherwise it says in one line
# what to run and fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

lists=("$root/tools/debian-packages-run.txt")
profiles=()
[ "${1:-}" = run ] && profiles=(-P nocheck) || lists+=("$root/tools/debian-packages-test.txt")
# dpkg-checkbuilddeps comes with the build dependencies (build-essential brings dpkg-dev).
build_deps_met=0
(cd "$root" && dpkg-checkbuilddeps "${profiles[@]}") 2>/dev/null && build_deps_met=1
mapfile -t wanted < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "${lists[@]}")
missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && [ "$build_deps_met" -eq 1 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null || ! sudo -n true 2>/dev/null; then
        echo "tarnwick: missing Debian packages; as root run:" \
            "apt-get ${profiles[*]} build-dep $root/ && apt-get install ${missing[*]}" >&2
        exit 1
    fi
    as_root=(sudo DEBIAN_FRONTEND=noninteractive)
fi
echo "Installing: the build dependencies of debian/control ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get "${profiles[@]}" build-dep -y --no-install-recommends "$root/"
[ ${#missing[@]} -eq 0 ] || "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
