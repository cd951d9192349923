#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build-fuzz and runs each for a
# bounded time on a copy of its corpus in tests/fuzz/corpus/<target>/ (the repository's
# corpus is never modified). ZORFLASH_FUZZ_SECONDS sets the time per target (default 60).
# Prints one line per target, then a summary line in ctest's form; exits non-zero when a
# target crashed or broke a property, and keeps the input that did it in
# build-fuzz/artifacts/<target>/ (add it to the corpus once the fault is fixed).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${ZORFLASH_FUZZ_BUILD:-$root/build-fuzz}
seconds=${ZORFLASH_FUZZ_SECONDS:-60}
targets=(command_line reply_stream diag_log)

summary() {
    local passed=$1 failed=$2
    local total=$((passed + failed))
    local percent=0
    if ((total > 0)); then percent=$((passed * 100 / total)); fi
    echo "fuzz targets: $passed passed, $failed failed"
    echo "$percent% tests passed, $failed tests failed out of $total"
}

echo "=== fuzz: configuring and building in $build"
mkdir -p "$build"
if ! cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        >"$build/configure.log" 2>&1; then
    cat "$build/configure.log"
    summary 0 ${#targets[@]}
    exit 1
fi
if ! cmake --build "$build" -j2; then
    summary 0 ${#targets[@]}
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# fuzz_one TARGET: runs one target and writes its line and its result into the work folder.
fuzz_one() {
    local target=$1
    mkdir -p "$work/$target/corpus" "$build/artifacts/$target"
    cp -r "$here/corpus/$target/." "$work/$target/corpus/"
    local log="$build/$target.log" rc executions corpus
    # -timeout: one input taking seconds is a hang; -rss_limit_mb: a leak or runaway growth.
    "$build/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -rss_limit_mb=2048 -max_len=8192 -artifact_prefix="$build/artifacts/$target/" \
        "$work/$target/corpus" >"$log" 2>&1
    rc=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    corpus=$(find "$work/$target/corpus" -type f | wc -l)
    if [[ $rc -eq 0 ]]; then
        echo "$target: 1 passed, 0 failed (${executions:-?} executions in ${seconds} s, corpus $corpus inputs)" >"$work/$target.line"
    else
        {
            echo "$target: 0 passed, 1 failed (exit $rc after ${executions:-?} executions); log $log"
            grep -E "property broken|ERROR: |SUMMARY: |Test unit written" "$log" | head -20
        } >"$work/$target.line"
    fi
    echo $rc >"$work/$target.rc"
}

# Each target is one process on one core: as many run at once as there are cores.
cores=$(nproc)
running=0
for target in "${targets[@]}"; do
    if ((running >= cores)); then
        wait -n
        running=$((running - 1))
    fi
    fuzz_one "$target" &
    running=$((running + 1))
done
wait

passed=0
failed=0
for target in "${targets[@]}"; do
    cat "$work/$target.line" 2>/dev/null || echo "$target: 0 passed, 1 failed (no result)"
    if [[ "$(cat "$work/$target.rc" 2>/dev/null)" == 0 ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
done
summary $passed $failed
((failed == 0))
