#!/usr/bin/env bash
# Builds the .deb of the current commit twice and checks that the two are the same byte for byte.
# Each build is a clone of its own in another folder; the second runs under another umask, TZ and
# LANG, minutes later, with every file of its checkout touched to another time. Prints both
# SHA-256 sums and, where they differ, what diffoscope finds, and fails.
# Usage: check-reproducible.sh [BUILD_DIR]: with the build tree of a clean checkout of this
# commit (CI's package test leaves one), its package is the first of the two and the second is
# built in the same build type.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fail() { echo "check-reproducible: $*" >&2 && exit 1; }
bash "$root/tools/setup.sh" # diffoscope is on the test list
commit=$(git -C "$root" rev-parse HEAD) || fail "needs a git checkout to take the commit from"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# clone_and_pack SOURCE_DIR BUILD_DIR [touch]: a clone of the commit (its files touched to 2001
# with "touch"), built and packed in BUILD_DIR.
clone_and_pack() {
    git -c advice.detachedHead=false clone --quiet --no-hardlinks "$root" "$1"
    git -C "$1" checkout --quiet --detach "$commit"
    [ -z "${3:-}" ] || find "$1" -path "$1/.git" -prune -o -exec touch -h -d '2001-02-03 04:05:06' {} +
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE="$build_type" -DTARNWICK_BUILD_TESTS=OFF >/dev/null
    cmake --build "$2" -j"$(nproc)" >/dev/null
    (cd "$2" && cpack -G DEB >/dev/null)
}

if [ -n "${1:-}" ]; then
    first_build=$(cd "$1" && pwd)
    [ "$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$first_build/CMakeCache.txt")" = "$root" ] ||
        fail "$1 is not a build tree of $root"
    [ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] ||
        fail "$root has uncommitted changes: run it without BUILD_DIR to check the commit"
    build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$first_build/CMakeCache.txt")
    # Up to date first: a commit since its last build changes the time stamps the package takes.
    cmake --build "$first_build" -j"$(nproc)" >/dev/null
    rm -f "$first_build"/tarnwick_*.deb
    (cd "$first_build" && cpack -G DEB >/dev/null)
else
    build_type=Release
    first_build=$work/first/build
    umask 022
    export TZ=UTC LANG=C.UTF-8
    clone_and_pack "$work/first/tarnwick" "$first_build"
fi
echo "check-reproducible: first build done; the second, in another folder ($build_type)"

# The second differs from the first in all that must not matter.
[ "$(umask)" = 0002 ] && other_umask=022 || other_umask=002
[ "${TZ:-}" = Asia/Tokyo ] && other_tz=America/Sao_Paulo || other_tz=Asia/Tokyo
[ "${LANG:-}" = C ] && other_lang=C.UTF-8 || other_lang=C
(
    umask "$other_umask"
    export TZ=$other_tz LANG=$other_lang
    clone_and_pack "$work/second/elsewhere/tarnwick-copy" "$work/second/out" touch
)

first_deb=$(ls "$first_build"/tarnwick_*.deb)
second_deb=$(ls "$work"/second/out/tarnwick_*.deb)
sha256sum "$first_deb" "$second_deb"
if ! cmp -s "$first_deb" "$second_deb"; then
    diffoscope --no-progress --text - "$first_deb" "$second_deb" | head -n 200 || true
    fail "the two packages differ (above; at most 200 lines of diffoscope's report)"
fi
echo "check-reproducible: the two packages are the same"
