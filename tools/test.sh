#!/usr/bin/env bash
# Sets up a Debian 12 or 13 machine, builds Tarnwick and runs every test.
# --sanitize builds, with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build-sanitize/, only the tests of the code that handles memory by hand (engine, platform,
# echo program, WHOIS) and runs them; tools/fuzz.sh builds its fuzzers in the same tree.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/tools/setup.sh"
export QT_QPA_PLATFORM=offscreen

if [ "${1:-}" != "--sanitize" ]; then
    cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/build" -j"$(nproc)"
    ctest --test-dir "$root/build" --output-on-failure --timeout 300
    exit
fi

build_dir="$root/build-sanitize"
tests=(engine/tarnwick_engine_tests platform/tarnwick_platform_tests whois/tarnwick_whois_tests
    echo/tarnwick_echo_tests)
cmake -S "$root" -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWICK_SANITIZE=ON -DTARNWICK_BUILD_FUZZ=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target "${tests[@]##*/}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$root/tools/lsan-suppressions.txt:print_suppressions=0"
for program in "${tests[@]}"; do
    "$build_dir/tests/$program" --gtest_brief=1
done
echo "sanitized tests passed"
