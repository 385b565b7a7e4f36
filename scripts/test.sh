#!/usr/bin/env bash
# Installs what is needed, builds both platforms and runs every test: native,
# Windows under Wine, native under AddressSanitizer + UndefinedBehaviorSanitizer,
# the engine's, workers' and presenters' tests under ThreadSanitizer, and a
# minute of every fuzz target. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh || exit 1

jobs=$(nproc)
passed=0
failed=0
failures=()

# configure_and_build DIR [cmake args...]; builds the targets named in the
# array `targets`, or everything when it is empty.
targets=()
configure_and_build() {
    local dir=$1
    shift
    local only=()
    [ ${#targets[@]} -eq 0 ] || only=(--target "${targets[@]}")
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_WERROR=ON "$@" >/dev/null &&
        cmake --build "$dir" -j "$jobs" "${only[@]}"
}

# run_suite NAME DIR [ctest args...]
run_suite() {
    local name=$1 dir=$2
    shift 2
    echo "== $name"
    local log
    log=$(mktemp)
    (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log"
    local ok bad
    ok=$(grep -Eo '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    if [ -z "$ok" ]; then
        failed=$((failed + 1))
        failures+=("$name: no test ran")
    else
        total=$(echo "$ok" | grep -Eo '[0-9]+$')
        bad=$(echo "$ok" | grep -Eo '[0-9]+ tests failed' | grep -Eo '^[0-9]+')
        passed=$((passed + total - bad))
        failed=$((failed + bad))
        [ "$bad" -eq 0 ] || failures+=("$name: $bad failed")
    fi
    rm -f "$log"
}

build_step() {
    local name=$1
    shift
    echo "== build $name"
    if ! configure_and_build "$@"; then
        failed=$((failed + 1))
        failures+=("build $name failed")
        return 1
    fi
}

if build_step native build; then
    run_suite native build -LE wine
fi

# Wine keeps its state in a throw-away prefix of this run.
export QUILLON_WINEPREFIX
QUILLON_WINEPREFIX=$(mktemp -d /tmp/quillon-wine-XXXXXX)
if build_step windows build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake; then
    run_suite "windows (wine)" build-win
    # The Windows program end to end, driven from the native build.
    run_suite "windows program (wine)" build -L wine
fi
WINEPREFIX=$QUILLON_WINEPREFIX "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true
rm -rf "$QUILLON_WINEPREFIX"

if build_step asan build-asan -DQUILLON_SANITIZE=address; then
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_suite "asan+ubsan" build-asan
fi

# Everything that runs threads of its own: the engine and the filter, the
# workers, the presenters that start and stop them.
targets=(engine_tests content_filter_tests proxy_switching_tests integration_tests
    filter_integration_tests privacy_tests main_dialog_tests shell_tests shell_app_tests)
if build_step tsan build-tsan -DQUILLON_SANITIZE=thread; then
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_suite tsan build-tsan \
        -R "^($(IFS='|'; echo "${targets[*]}"))\$"
fi
targets=()

# Every parser of outside input under libFuzzer for a minute, two targets at
# a time; one result per target.
echo "== fuzz"
fuzz_log=$(mktemp)
FUZZ_JOBS=2 tests/fuzz/run.sh 60 2>&1 | tee "$fuzz_log"
fuzz_rows=$(sed -n '/^target  /,$p' "$fuzz_log" | tail -n +2 | grep -v '^  see ')
if [ -z "$fuzz_rows" ]; then
    failed=$((failed + 1))
    failures+=("fuzz: no target ran")
else
    fuzz_bad=$(echo "$fuzz_rows" | awk '$0 ~ /did not finish/ || $5 != 0 || $6 != 0' | wc -l)
    passed=$((passed + $(echo "$fuzz_rows" | wc -l) - fuzz_bad))
    failed=$((failed + fuzz_bad))
    [ "$fuzz_bad" -eq 0 ] || failures+=("fuzz: $fuzz_bad targets with findings")
fi
rm -f "$fuzz_log"

echo
for f in "${failures[@]}"; do
    echo "FAILED: $f"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
