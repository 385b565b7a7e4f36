#!/usr/bin/env bash
# Runs the three soaks at full size, one process each, and prints a summary:
#  - connections: 10,000 connections through the engine (filter off, then on)
#  - switching:   1,000 on/off cycles of proxy switching with clients busy
#  - cleaning:    1,000 cleaning worker restarts stopped mid-cycle
# After each run the engine's parked threads are waited out (30 s), so that
# the thread count must come back all the way to where it started.
#
#   bench/soak.sh   [CONNECTIONS=10000 CYCLES=1000 RESTARTS=1000 SEED=1]
#
# Exits with 1 when any soak failed; the full output of each is kept in
# SOAK_LOG_DIR (a temporary folder, removed unless given).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BENCH_BUILD_DIR:-$ROOT/build}
CONNECTIONS=${CONNECTIONS:-10000}
CYCLES=${CYCLES:-1000}
RESTARTS=${RESTARTS:-1000}
SEED=${SEED:-1}

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" --target soak >/dev/null
SOAK=$BUILD/bench/soak

if [ -n "${SOAK_LOG_DIR:-}" ]; then
  LOGS=$SOAK_LOG_DIR
  mkdir -p "$LOGS"
else
  LOGS=$(mktemp -d /tmp/quillon-soak-logs.XXXXXX)
  trap 'rm -rf "$LOGS"' EXIT
fi

failed=0
summary=()
run() { # name args...
  local name=$1; shift
  local start end status=0
  start=$(date +%s.%N)
  "$SOAK" "$name" "$@" --seed "$SEED" --drain-pool >"$LOGS/$name.log" 2>&1 || status=$?
  end=$(date +%s.%N)
  cat "$LOGS/$name.log"
  local result=PASS
  [ "$status" -eq 0 ] || { result="FAIL (exit $status)"; failed=1; }
  summary+=("$(printf '%-12s %-16s %6.1f s' "$name" "$result" "$(echo "$end - $start" | bc)")")
}

run connections --connections "$CONNECTIONS"
run switching --cycles "$CYCLES"
run cleaning --restarts "$RESTARTS"

echo
echo "Soak summary (wall time includes waiting 30 s for the engine's parked threads)"
for line in "${summary[@]}"; do
  echo "  $line"
done
for name in connections switching cleaning; do
  grep -E "^$name: (levels|after|at the end|pool drained|RSS)" "$LOGS/$name.log" | sed 's/^/  /' || true
done
exit "$failed"
