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

# Runs one target; its report goes to BUILD_DIR/<target>.report, and the exit code says whether it crashed.
fuzz_one() {
    local t=$1 name=${1#fuzz_} status=0 runs
    mkdir -p "$build/corpus/$name" "$build/crashes"
    local log="$build/$t.log"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$name-" "$build/corpus/$name" "tests/fuzz/corpus/$name" >"$log" 2>&1 ||
        status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ $status -eq 0 ]; then
        echo "$t: ${runs:-?} executions in ${seconds} s, no crash" >"$build/$t.report"
    else
        {
            echo "$t: CRASHED after ${runs:-?} executions (exit $status); the input is in $build/crashes/:"
            grep -E "ERROR|SUMMARY|runtime error|^(translated|runs whole|error|like|a |an )" "$log" | head -20 || true
        } >"$build/$t.report"
    fi
    return $status
}

# Each target is one thread: as many run at once as the machine has cores, each for the full time.
jobs=$(nproc)
failed=0
pids=()
names=()
for t in "${targets[@]}"; do
    fuzz_one "$t" &
    pids+=($!)
    names+=("$t")
    if [ ${#pids[@]} -ge "$jobs" ]; then
        wait "${pids[0]}" || failed=$((failed + 1))
        cat "$build/${names[0]}.report"
        pids=("${pids[@]:1}")
        names=("${names[@]:1}")
    fi
done
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || failed=$((failed + 1))
    cat "$build/${names[$i]}.report"
done
[ $failed -eq 0 ]
