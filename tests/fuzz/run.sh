#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz (clang, libFuzzer, AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60), one
# after the other, starting from its seed corpus in tests/fuzz/corpus. New
# inputs are kept in build-fuzz/corpus, findings in build-fuzz/findings.
# Prints runs, speed, CPU time, crashes and leaks per target; exits non-zero
# on any finding.
set -uo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-60}
build=build-fuzz
jobs=$(nproc)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQUILLON_FUZZ=ON -DQUILLON_SANITIZE=address -DQUILLON_WERROR=ON >/dev/null &&
    cmake --build "$build" --target fuzz_targets -j "$jobs" || {
    echo "fuzz build failed"
    exit 2
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

found=0
printf '%-22s %10s %9s %8s %8s %6s\n' target runs runs/s cpu_s crashes leaks
for source in tests/fuzz/*_fuzzer.cpp; do
    name=$(basename "$source" _fuzzer.cpp)
    corpus=$build/corpus/$name
    findings=$build/findings/$name
    log=$build/findings/$name.log
    mkdir -p "$corpus" "$findings"
    rm -f "$findings"/*
    /usr/bin/time -f '%U %S' -o "$build/findings/$name.cpu" \
        "$build/tests/fuzz/${name}_fuzzer" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1
    status=$?
    # User + system seconds of the fuzzer process.
    cpu=$(awk 'END { printf "%.1f", $1 + $2 }' "$build/findings/$name.cpu")
    runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -1)
    speed=$(grep -Eo 'stat::average_exec_per_sec: *[0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -1)
    crashes=$(find "$findings" -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    leaks=$(find "$findings" -type f -name 'leak-*' | wc -l)
    if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ] && [ "$leaks" -eq 0 ]; then
        crashes=1  # a failure that left no input behind
    fi
    printf '%-22s %10s %9s %8s %8s %6s\n' "$name" "${runs:-?}" "${speed:-?}" "$cpu" "$crashes" "$leaks"
    if [ "$crashes" -ne 0 ] || [ "$leaks" -ne 0 ]; then
        found=1
        echo "  see $log and $findings/"
    fi
done
exit "$found"
