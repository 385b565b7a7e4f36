#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz (clang, libFuzzer, AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60),
# starting from its seed corpus in tests/fuzz/corpus. New inputs are kept in
# build-fuzz/corpus, findings in build-fuzz/findings.
#
#   tests/fuzz/run.sh [SECONDS] [TARGET...]     # every target when none named
#
# FUZZ_JOBS targets run at the same time (default: one per core). Prints
# runs, speed, CPU time, crashes and leaks per target; exits non-zero on any
# finding.
set -uo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
build=build-fuzz
jobs=${FUZZ_JOBS:-$(nproc)}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQUILLON_FUZZ=ON -DQUILLON_SANITIZE=address -DQUILLON_WERROR=ON >/dev/null &&
    cmake --build "$build" --target fuzz_targets -j "$(nproc)" || {
    echo "fuzz build failed"
    exit 2
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for source in tests/fuzz/*_fuzzer.cpp; do
        names+=("$(basename "$source" _fuzzer.cpp)")
    done
fi

# fuzz_one NAME: runs one target and leaves its result line in
# findings/NAME.row.
fuzz_one() {
    local name=$1
    local corpus=$build/corpus/$name findings=$build/findings/$name
    local log=$build/findings/$name.log row=$build/findings/$name.row
    mkdir -p "$corpus" "$findings"
    rm -f "$findings"/* "$row"
    /usr/bin/time -f '%U %S' -o "$build/findings/$name.cpu" \
        "$build/tests/fuzz/${name}_fuzzer" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1
    local status=$?
    local cpu runs speed crashes leaks
    # User + system seconds of the fuzzer process.
    cpu=$(awk 'END { printf "%.1f", $1 + $2 }' "$build/findings/$name.cpu")
    runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -1)
    speed=$(grep -Eo 'stat::average_exec_per_sec: *[0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -1)
    crashes=$(find "$findings" -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    leaks=$(find "$findings" -type f -name 'leak-*' | wc -l)
    if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ] && [ "$leaks" -eq 0 ]; then
        crashes=1  # a failure that left no input behind
    fi
    printf '%-22s %10s %9s %8s %8s %6s\n' "$name" "${runs:-?}" "${speed:-?}" "$cpu" "$crashes" "$leaks" >"$row"
    if [ "$crashes" -ne 0 ] || [ "$leaks" -ne 0 ]; then
        echo "  see $log and $findings/" >>"$row"
    fi
}

running=0
for name in "${names[@]}"; do
    if [ ! -x "$build/tests/fuzz/${name}_fuzzer" ]; then
        echo "no fuzz target $name"
        exit 2
    fi
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
    fuzz_one "$name" &
    running=$((running + 1))
done
wait

found=0
printf '%-22s %10s %9s %8s %8s %6s\n' target runs runs/s cpu_s crashes leaks
for name in "${names[@]}"; do
    row=$build/findings/$name.row
    if [ -s "$row" ]; then
        cat "$row"
    else
        printf '%-22s did not finish\n' "$name"
    fi
    if [ ! -s "$row" ] || grep -q '^  see ' "$row"; then
        found=1
    fi
done
exit "$found"
