#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan (in the tree of tools/test.sh
# --sanitize, so the libraries are built once for both), replays every kept input, then fuzzes
# each target for the given number of seconds (default 60).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
bash "$root/tools/setup.sh"

build_dir="$root/build-sanitize"
cmake -S "$root" -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWICK_SANITIZE=ON -DTARNWICK_BUILD_FUZZ=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target tarnwick_fuzz_parse_address tarnwick_fuzz_icmp_reply \
    tarnwick_fuzz_echo_request tarnwick_fuzz_whois_answer tarnwick_fuzz_long_lines

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for program in "$build_dir"/fuzz/tarnwick_fuzz_*; do
    name=${program##*/tarnwick_fuzz_}
    kept="$root/fuzz/corpus/$name"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    echo "== $name: replaying $(ls "$kept" | wc -l) kept inputs, then fuzzing for ${seconds}s"
    "$program" -runs=0 "$kept" 2>&1 | tail -1
    # New findings go to the work folder; a crash input is written beside it for keeping.
    "$program" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$work/" \
        "$work" "$kept" 2>&1 | tail -2 || {
        echo "FAIL: $name crashed; input kept under $work" >&2
        trap - EXIT
        exit 1
    }
    rm -rf "$work"
    trap - EXIT
done
echo "fuzzing passed"
