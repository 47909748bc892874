#!/usr/bin/env bash
# Installs a build directory into a scratch root and checks what a desktop needs of it:
# program, desktop entry, themed icons at their sizes, AppStream metainfo, licence.
# Usage: install-tree-test.sh BUILD_DIR PROJECT_VERSION
set -uo pipefail
build_dir=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"

failures=0
check() { # check DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@" >"$work/out" 2>&1; then
        echo "PASS: $description"
    else
        echo "FAIL: $description"
        sed 's/^/    /' "$work/out"
        failures=$((failures + 1))
    fi
}

if ! DESTDIR="$root" cmake --install "$build_dir" --prefix /usr >"$work/install.log" 2>&1; then
    echo "FAIL: cmake --install"
    cat "$work/install.log"
    exit 1
fi
share="$root/usr/share"

check "the program is installed and executable" test -x "$root/usr/bin/tarnwick"
check "the desktop entry is valid" desktop-file-validate "$share/applications/tarnwick.desktop"
check "the desktop entry starts tarnwick" \
    grep -qxF -e 'Exec=tarnwick' "$share/applications/tarnwick.desktop"
check "the desktop entry names its icon" \
    grep -qxF -e 'Icon=tarnwick' "$share/applications/tarnwick.desktop"
check "the desktop entry carries the one-line description" grep -qxF \
    -e 'Comment=Test network connectivity between two computers' \
    "$share/applications/tarnwick.desktop"

for size in 16 32 48 128 256; do
    icon="$share/icons/hicolor/${size}x${size}/apps/tarnwick.png"
    check "the ${size}px icon is a ${size}x${size} PNG" \
        bash -c "file -b '$icon' | grep -q 'PNG image data, $size x $size,'"
done

metainfo=$(find "$share/metainfo" -name '*.metainfo.xml' 2>/dev/null)
check "one metainfo file is installed" test "$(printf '%s\n' "$metainfo" | grep -c .)" -eq 1
check "the metainfo lists release $version" grep -q "<release version=\"$version\"" "$metainfo"
check "the metainfo launches the installed desktop entry" \
    grep -qF '<launchable type="desktop-id">tarnwick.desktop</launchable>' "$metainfo"
check "appstreamcli accepts the installed tree" appstreamcli validate-tree --no-net "$root"
check "the licence is installed" test -s "$share/doc/tarnwick/copyright"

unexpected=$(find "$root" -mindepth 1 -not -path "$root/usr" -not -path "$root/usr/*")
check "nothing is installed outside the prefix" test -z "$unexpected"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
