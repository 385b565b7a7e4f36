#!/usr/bin/env bash
# The proxy catalogue as the shipped program runs it: build/quillon with a
# settings store and a home of its own, on a desktop (Xvfb, openbox, the
# accessibility bus; see tests/desktop), timed from outside.
#
#   bench/catalogue_bench.sh [list] [probe]
#
# Parts (all by default):
#   list   lists of SIZES generated `a.b.c.d:port` entries: time until the
#          drop-down holds them all, opening it, End in it, a key typed in
#          its edit field, and the program's memory; at a later start (the
#          list file stored) and at a first start (downloaded from a loopback
#          server). catalogue_list_bench.py does the measuring.
#   probe  the probe against a good proxy and hostile ones (refusing, closing,
#          silent, garbage, blackholed): time to the verdict, the verdict,
#          and a second start meanwhile; catalogue_probe_bench.py measures,
#          in a network namespace of its own (for the blackhole).
# Reads BENCH_BUILD_DIR (common.sh), BENCH_QUICK=1 (one run each, sizes up to
# 40,000), SIZES (0,1000,40000,750000), BENCH_RUNS (3), BENCH_PROGRAM (another
# quillon to measure with the same script, e.g. an older build).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=bench/common.sh
source "$ROOT/bench/common.sh"
if [ $# -gt 0 ]; then PARTS=("$@"); else PARTS=(list probe); fi
cmake --build "$BUILD" --target quillon quillon-reg hostile_peer >/dev/null
PROGRAM=${BENCH_PROGRAM:-$BUILD/quillon}
REG=$BUILD/quillon-reg
for tool in Xvfb openbox xdotool xprop dbus-daemon; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/setup.sh installs it)"
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || die "python3-pyatspi is missing"

# list_files SIZE...: $TMP/lists/list-N.txt, N random entries one a line,
# the same for every run (fixed seed).
list_files() {
  mkdir -p "$TMP/lists"
  local n
  for n in "$@"; do
    awk -v n="$n" 'BEGIN { srand(n + 1); for (i = 0; i < n; i++)
      printf "%d.%d.%d.%d:%d\n", int(rand() * 256), int(rand() * 256), int(rand() * 256),
        int(rand() * 256), 1 + int(rand() * 65535) }' >"$TMP/lists/list-$n.txt"
  done
}

part_list() {
  local sizes runs
  if [ "${BENCH_QUICK:-0}" = 1 ]; then
    sizes=${SIZES:-0,1000,40000} runs=1
  else
    sizes=${SIZES:-0,1000,40000,750000} runs=${BENCH_RUNS:-3}
  fi
  IFS=, read -ra each <<<"$sizes"
  list_files "${each[@]}"
  say "list sizes $sizes: $(du -sh "$TMP/lists" | cut -f1) of lists"
  local first
  for first in "" --first-start; do
    PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 "$ROOT/bench/catalogue_list_bench.py" \
      --program "$PROGRAM" --reg "$REG" --lists "$TMP/lists" --sizes "$sizes" --runs "$runs" \
      $first
    echo
  done
}

part_probe() {
  local runs=${BENCH_RUNS:-3}
  [ "${BENCH_QUICK:-0}" = 1 ] && runs=1
  local command=(/usr/bin/python3 "$ROOT/bench/catalogue_probe_bench.py" --program "$PROGRAM"
    --reg "$REG" --vendor "$ROOT/vendor" --hostile-peer "$BUILD/tests/support/hostile_peer"
    --runs "$runs")
  say "probe, $runs run(s) a proxy"
  if unshare -n true 2>/dev/null; then
    QUILLON_OUTER_NETNS=$(readlink /proc/self/ns/net) PYTHONDONTWRITEBYTECODE=1 \
      unshare -n sh -c 'ip link set lo up && exec "$0" "$@"' "${command[@]}"
  else
    PYTHONDONTWRITEBYTECODE=1 "${command[@]}"
  fi
}

for part in "${PARTS[@]}"; do
  case "$part" in
    list) part_list ;;
    probe) part_probe ;;
    *) die "unknown part: $part" ;;
  esac
done
