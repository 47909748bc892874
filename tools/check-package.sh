#!/usr/bin/env bash
# Builds the Debian source and binary packages of the current commit with dpkg-buildpackage,
# checks them with lintian, runs the installed package's tests with autopkgtest, and has
# reprotest build the source package again under other conditions, failing on any difference.
# Run as root (autopkgtest installs and purges the package on this machine); the packages land in
# build-package/. DEB_BUILD_OPTIONS=nocheck skips the tests at build time (CI runs them with
# tools/test.sh), in reprotest's build too.
#   --no-reprotest   the first three only (tools/check-debian13.sh)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
reprotest=1
for arg in "$@"; do
    case $arg in
    --no-reprotest) reprotest=0 ;;
    *) echo "usage: $0 [--no-reprotest]" >&2 && exit 2 ;;
    esac
done
fail() { echo "check-package: $*" >&2 && exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root (autopkgtest installs the package here)"
! dpkg -s tarnwick >/dev/null 2>&1 || fail "a tarnwick package is installed: dpkg --purge tarnwick first"
bash "$root/tools/setup.sh"
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)

# dpkg-buildpackage writes beside the tree, so the tree is a clean copy of the commit inside out/;
# a tree without git (as tools/check-debian13.sh makes one) is copied as it is, less its builds.
out=$root/build-package
rm -rf "$out" && mkdir -p "$out/tarnwick-$version" && chmod 755 "$out"
if commit=$(git -C "$root" rev-parse HEAD 2>/dev/null); then
    [ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] ||
        echo "check-package: uncommitted changes are not checked, only commit ${commit:0:12}"
    git -C "$root" archive "$commit" | tar -x -C "$out/tarnwick-$version"
else
    tar -C "$root" --exclude='./build*' --exclude='./obj-*' -c . | tar -x -C "$out/tarnwick-$version"
fi
echo "== dpkg-buildpackage (DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-})"
(cd "$out/tarnwick-$version" && dpkg-buildpackage -us -uc) >"$out/build.log" 2>&1 ||
    { tail -40 "$out/build.log" >&2 && fail "dpkg-buildpackage failed (log: $out/build.log)"; }
grep -E '^[0-9]+% tests passed|tests failed out of' "$out/build.log" || echo "(tests not run at build time)"
ls "$out"/*.dsc "$out"/*.deb

# lintian refuses to run as root without a warning; it reads the packages as nobody.
echo "== lintian on the .changes: errors and warnings fail, info and pedantic tags are shown"
chmod -R a+rX "$out"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/nonexistent lintian --fail-on error,warning \
    --display-info --pedantic --show-overrides "$out/tarnwick_${version}_$(dpkg --print-architecture).changes" ||
    fail "lintian found errors or warnings (above)"

echo "== autopkgtest on the built packages, here as root"
tested=0
autopkgtest --output-dir "$out/autopkgtest" "$out/tarnwick-$version" "$out"/*.deb -- null && tested=1
# The tests end by purging it; one that stopped early leaves it installed.
! dpkg -s tarnwick >/dev/null 2>&1 || dpkg --purge tarnwick >/dev/null
[ "$tested" -eq 1 ] || fail "autopkgtest failed (above; output in $out/autopkgtest)"

[ "$reprotest" -eq 1 ] || exit 0
# The first build above is reprotest's control; its second build, from the .dsc, varies all it
# can here: build path, environment, locale, time zone, umask, home, PATH, CPU count, ASLR,
# kernel personality, file ordering (disorderfs), domain and host names, and the clock (faketime).
# The user and group stay: varying them needs a second build user made on the machine for it.
echo "== reprotest on the source package"
mkdir -p "$out/control/source-root" && cp "$out"/*.deb "$out/control/source-root/"
echo "first build:" && (cd "$out/control/source-root" && sha256sum ./*.deb)
# The second build prints its own sums; reprotest keeps its packages only where they differ.
if reprotest --vary=-user_group --control-build "$out/control" --store-dir "$out/reprotest" \
    --append-build-command "&& echo second build: && sha256sum ../*.deb" "$out/tarnwick_$version.dsc" \
    >"$out/reprotest.log" 2>&1; then
    grep -x -A2 'second build:' "$out/reprotest.log" && grep -x 'Reproduction successful' "$out/reprotest.log"
else
    tail -n 200 "$out/reprotest.log"
    fail "the second build differs from the first or failed (above; log: $out/reprotest.log)"
fi
