#!/usr/bin/env bash
# Runs every fuzz target of a build for a while on its seed corpus and says what each did.
#   tests/fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]
# New inputs that reach new code go to BUILD_DIR/corpus/<target>, crashing inputs to
# BUILD_DIR/crashes/<target>-crash-...; the seed corpus in tests/fuzz/corpus is only read.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$1
seconds=${2:-30}
shift $(($# < 2 ? $# : 2))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for t in "$build"/fuzz_*; do
        [ -x "$t" ] && targets+=("$(basename "$t")")
    done
fi

failed=0
for t in "${targets[@]}"; do
    name=${t#fuzz_}
    mkdir -p "$build/corpus/$name" "$build/crashes"
    log="$build/$t.log"
    status=0
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$name-" "$build/corpus/$name" "tests/fuzz/corpus/$name" >"$log" 2>&1 ||
        status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ $status -eq 0 ]; then
        echo "$t: ${runs:-?} executions in ${seconds} s, no crash"
    else
        failed=$((failed + 1))
        echo "$t: CRASHED after ${runs:-?} executions (exit $status); the input is in $build/crashes/:"
        grep -E "ERROR|SUMMARY|runtime error|^(translated|runs whole|error|like|a |an )" "$log" | head -20 || true
    fi
done
[ $failed -eq 0 ]
