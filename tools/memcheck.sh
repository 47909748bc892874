#!/usr/bin/env bash
# Runs the engine and platform test programs under valgrind memcheck: any invalid access,
# use of uninitialised memory or definite/indirect leak fails the run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/tools/setup.sh"

# The plain build of tools/test.sh; memcheck needs code without sanitizer instrumentation.
build_dir="$root/build"
programs=(tests/engine/tarnwick_engine_tests tests/platform/tarnwick_platform_tests
    tests/platform/tarnwick_icmp_robustness_tests)
# Cases left out under valgrind, each with its reason (gtest filter patterns). The namespace
# cases fork, setns and run their threads under valgrind as they do natively; a spawn whose exec
# fails does not, because valgrind runs the child as a fork and cannot hand the exec's error
# back to posix_spawn.
declare -A skipped=(
    ["ShellTest.MissingXdgOpenFailsQuietly"]="a failing exec is not reported back under valgrind"
    ["Rows/FailingStartTest.*"]="a failing exec is not reported back under valgrind"
)

cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target "${programs[@]##*/}"

filter="*"
if [ ${#skipped[@]} -gt 0 ]; then
    filter+="-"
    for pattern in "${!skipped[@]}"; do
        echo "skipped under valgrind: $pattern (${skipped[$pattern]})"
        filter+="$pattern:"
    done
    filter=${filter%:}
fi

failed=0
for program in "${programs[@]}"; do
    log=$(mktemp)
    echo "== memcheck ${program##*/}"
    if valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --show-leak-kinds=definite,indirect --error-exitcode=1 --track-fds=no \
        --log-file="$log" "$build_dir/$program" --gtest_filter="$filter" --gtest_brief=1; then
        grep -E "ERROR SUMMARY|definitely lost|indirectly lost|All heap blocks" "$log" | sed 's/^==[0-9]*== /   /'
    else
        cat "$log" >&2
        echo "FAIL: memcheck found errors in ${program##*/}" >&2
        failed=1
    fi
    rm -f "$log"
done
[ $failed -eq 0 ] && echo "memcheck passed"
exit $failed
