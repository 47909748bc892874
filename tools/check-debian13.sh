#!/usr/bin/env bash
# Builds and tests the current commit on Debian 13 from a Debian 12 (or 13) machine, as root:
# debootstrap makes a Debian 13 root from the mirror this machine's apt uses, a clean tree of
# HEAD is copied in, and there the package checks run as root: dpkg-buildpackage, whose build
# runs the whole suite, lintian and autopkgtest.
#   --all    also the sanitizer build and the fuzzers (tools/test.sh --sanitize, tools/fuzz.sh 30)
#   --fresh  makes the root anew instead of reusing the one kept from an earlier run
# The root, with the build dependencies and the packages of tools/debian-packages-*.txt installed,
# is kept in $TARNWICK_DEBIAN13_CACHE (default /var/cache/tarnwick-debian13); each run works in an
# overlay on it that is thrown away, so nothing of a run's builds or package checks is kept. The tests
# run in a network namespace of their own: its X displays, veth names and ping settings never
# meet the host's, and nothing they send can leave it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
release=trixie
all=0 fresh=0
for arg in "$@"; do
    case $arg in
    --all) all=1 ;;
    --fresh) fresh=1 ;;
    *) echo "usage: $0 [--all] [--fresh]" >&2 && exit 2 ;;
    esac
done
fail() { echo "check-debian13: $*" >&2 && exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot, namespaces)"
commit=$(git -C "$root" rev-parse HEAD) || fail "needs a git checkout to take the commit from"
[ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] ||
    echo "check-debian13: uncommitted changes are not checked, only commit ${commit:0:12}"
bash "$root/tools/setup.sh" # debootstrap is on the test list

# The mirrors: those that serve this machine's own release (and its security updates), from its
# apt sources, one-line or deb822.
# shellcheck disable=SC1091
host_release=$(. /etc/os-release && echo "$VERSION_CODENAME")
mirror_for() { # mirror_for SUITE: the first URI whose entry lists SUITE
    {
        cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            sed -E -e 's/#.*//' -e 's/\[[^]]*\]//' |
            awk -v s="$1" '$1 == "deb" { for (i = 3; i <= NF; i++) if ($i == s) print $2 }'
        # deb822: blank lines end an entry, comment lines do not.
        cat /etc/apt/sources.list.d/*.sources 2>/dev/null | sed '/^[[:space:]]*#/d' |
            awk -v s="$1" '
            /^[[:space:]]*$/ { if (deb && hit) print uri; deb = hit = 0; uri = ""; next }
            tolower($1) == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
            tolower($1) == "uris:" { uri = $2 }
            tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == s) hit = 1 }
            END { if (deb && hit) print uri }'
    } | head -1
}
mirror=$(mirror_for "$host_release")
security=$(mirror_for "$host_release-security")
[ -n "$mirror" ] || fail "no apt source of $host_release found to take the mirror from"

cache=${TARNWICK_DEBIAN13_CACHE:-/var/cache/tarnwick-debian13}
base=$cache/$release
mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9 # one run at a time uses the kept root

# in_root ROOT NETWORK COMMAND...: runs COMMAND as root in ROOT, in a mount and PID namespace of
# its own (so every mount and every process left behind ends with it). NETWORK is "host" or
# "own": a fresh network namespace with only loopback up. With $lower set, ROOT is first made
# an overlay of that root, written to ROOT.upper.
in_root() {
    local dir=$1 network=$2
    shift 2
    local flags=(--mount --pid --fork --propagation private)
    [ "$network" = own ] && flags+=(--net)
    # shellcheck disable=SC2016 # expanded by the shell inside the namespaces
    unshare "${flags[@]}" -- bash -euc '
        dir=$1 lower=$2
        shift 2
        [ -z "$lower" ] || mount -t overlay overlay \
            -o "lowerdir=$lower,upperdir=$dir.upper,workdir=$dir.work" "$dir"
        # ip netns needs / to be a mount point, and its own /run and a sysfs of this namespace.
        mountpoint -q "$dir" || mount --bind "$dir" "$dir"
        mount -t proc proc "$dir/proc"
        mount -t sysfs sysfs "$dir/sys"
        mount --rbind /dev "$dir/dev"
        mount -t tmpfs -o mode=1777 tmpfs "$dir/dev/shm"
        mount -t tmpfs -o mode=755 tmpfs "$dir/run"
        ip link set lo up
        exec chroot "$dir" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI="${CI:-}" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
    ' bash "$dir" "${lower:-}" "$@"
}

started=$SECONDS
# A kept root is remade after a week, so that it stays close to a fresh install of the release.
if [ "$fresh" -eq 1 ] || ! [ -e "$base/.tarnwick-ready" ] ||
    [ -n "$(find "$base/.tarnwick-ready" -mtime +6)" ]; then
    echo "== making a Debian 13 root in $base from $mirror"
    rm -rf "$base" "$base.new"
    debootstrap --variant=minbase "$release" "$base.new" "$mirror" >"$cache/debootstrap.log" ||
        { tail -20 "$cache/debootstrap.log" >&2 && fail "debootstrap failed"; }
    {
        echo "deb $mirror $release main"
        echo "deb $mirror $release-updates main"
        [ -z "$security" ] || echo "deb $security $release-security main"
    } >"$base.new/etc/apt/sources.list"
    # A root that is remade rather than repaired needs no fsync after each file, nor translations.
    echo force-unsafe-io >"$base.new/etc/dpkg/dpkg.cfg.d/tarnwick-unsafe-io"
    echo 'Acquire::Languages "none";' >"$base.new/etc/apt/apt.conf.d/90tarnwick-no-translations"
    mv "$base.new" "$base"
    touch "$base/.tarnwick-ready"
    echo "== root made in $((SECONDS - started)) s"
fi

# The packages are installed into the kept root (with the host's network), the tests run in a
# throwaway overlay on it.
cp -L /etc/resolv.conf "$base/etc/resolv.conf"
tree=/root/tarnwick
rm -rf "${base:?}$tree" && mkdir -p "$base$tree"
git -C "$root" archive "$commit" tools debian | tar -x -C "$base$tree"
echo "== installing the build dependencies and tools/debian-packages-*.txt (log: $cache/setup.log)"
in_root "$base" host bash -c "bash $tree/tools/setup.sh && apt-get clean" \
    >"$cache/setup.log" 2>&1 || { tail -20 "$cache/setup.log" >&2 && fail "setup failed"; }
rm -rf "${base:?}$tree"
echo "== packages ready after $((SECONDS - started)) s"

run=$(mktemp -d "$cache/run.XXXXXX")
trap 'rm -rf "$run"' EXIT
mkdir -p "$run/root" "$run/root.work" "$run/root.upper$tree"
git -C "$root" archive "$commit" | tar -x -C "$run/root.upper$tree"
# The package's build runs the whole suite (as root here, so the namespace tests run too); the
# last step shows the dependencies that dpkg-shlibdeps found on Debian 13.
steps="bash tools/check-package.sh --no-reprotest"
steps+=" && dpkg-deb -f build-package/tarnwick_*_*.deb Version Depends"
[ "$all" -eq 0 ] || steps+=" && bash tools/test.sh --sanitize && bash tools/fuzz.sh 30"
echo "== Debian 13, commit ${commit:0:12}: $steps"
lower=$base in_root "$run/root" own bash -c "cd $tree && $steps" 2>&1 | tee "$run/log"
# Either compiler's warnings count as failures here, where the build scrolls by unread.
! grep -E ':[0-9]+:[0-9]+: warning:' "$run/log" "$run/root.upper$tree/build-package/build.log" ||
    fail "the Debian 13 build has warnings (above)"
echo "== Debian 13 checks passed in $((SECONDS - started)) s"
