#!/usr/bin/env bash
# The list check on a public list's worth of proxies that mostly never
# answer: time until every entry has its verdict, peak threads and peak RSS,
# for quillon-probe (the shipped command), proxy_check_run (the check as
# the program runs it: the Settings page's entries, a worker thread, the
# results handed to the window's thread and written to proxycheck.txt) and
# build/quillon itself (the list stored as its proxylist.txt, no display,
# timed from its start until proxycheck.txt holds every verdict; meanwhile
# a second start is timed: it hands over and ends once the running copy's
# window thread has answered, within 1 s when that thread is free).
#
#   bench/catalogue_check_bench.sh
#
# Each list holds three real proxies (tinyproxy leaving from 127.0.0.2, .3
# and .4: transparent, anonymous, elite; catalogue/testing/vendor_peers.sh,
# with nginx as the judge) and ports of tests/support/hostile_peer that
# refuse, stay silent or are blackholed, shuffled with a fixed seed. Every
# verdict is checked against what the entry is. Runs in a network namespace
# of its own (root; the blackhole needs it).
# Reads BENCH_BUILD_DIR (common.sh), BENCH_RUNS (3), BENCH_QUICK=1 (1 run),
# MIXES: lists as REFUSED,SILENT,BLACKHOLED counts ("1000,300,250 650,600,250"),
# PROGRAMS (quillon-probe proxy_check_run quillon).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -z "${QUILLON_OUTER_NETNS:-}" ] && unshare -n true 2>/dev/null; then
  QUILLON_OUTER_NETNS=$(readlink /proc/self/ns/net) \
    exec unshare -n sh -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
# shellcheck source=bench/common.sh
source "$ROOT/bench/common.sh"
[ -n "${QUILLON_OUTER_NETNS:-}" ] || die "needs a network namespace of its own (root, unshare)"
RUNS=${BENCH_RUNS:-3}
[ "${BENCH_QUICK:-0}" = 1 ] && RUNS=1
MIXES=${MIXES:-1000,300,250 650,600,250}
PROGRAMS=${PROGRAMS:-quillon-probe proxy_check_run quillon}

cmake --build "$BUILD" --target quillon quillon-reg quillon-probe proxy_check_run hostile_peer >/dev/null
PROBE=$BUILD/quillon-probe
RUN=$BUILD/bench/proxy_check_run
PROGRAM=$BUILD/quillon
REG=$BUILD/quillon-reg
PEERS=$TMP/peers
stop_peers() { "$ROOT/catalogue/testing/vendor_peers.sh" stop "$PEERS" || true; }
trap 'stop_peers; cleanup' EXIT

"$ROOT/catalogue/testing/vendor_peers.sh" start "$PEERS" "$ROOT/vendor" || die "the peers did not start"
JUDGE=http://127.0.0.1:$(cat "$PEERS/nginx.port")/licensing/ProxyGenerator/judge
export QUILLON_VENDOR_URL=http://127.0.0.1:$(cat "$PEERS/nginx.port")

# One hostile peer for every list: as many ports of each kind as the
# largest list needs. It ends when its standard input (a fifo held open
# here) closes, or by its pid.
most() { local m=0 x; for x in $MIXES; do x=$(cut -d, -f"$1" <<<"$x"); ((x > m)) && m=$x; done; echo "$m"; }
refused=$(most 1) silent=$(most 2) blackholed=$(most 3)
words=()
for ((i = 0; i < refused; i++)); do words+=(refuses); done
for ((i = 0; i < silent; i++)); do words+=(silent); done
mkfifo "$TMP/hostile.in"
"$BUILD/tests/support/hostile_peer" --blackhole="$blackholed" "${words[@]}" \
  <"$TMP/hostile.in" >"$TMP/hostile.out" 2>"$TMP/hostile.err" &
PIDS+=($!)
exec 7>"$TMP/hostile.in"
until=$((SECONDS + 60))
until grep -qx ready "$TMP/hostile.out"; do
  ((SECONDS < until)) && kill -0 "${PIDS[-1]}" 2>/dev/null || { cat "$TMP/hostile.err" >&2; die "hostile_peer did not get ready"; }
  sleep 0.05
done
grep -q '^blackhole ' "$TMP/hostile.out" || { cat "$TMP/hostile.err" >&2; die "no blackholed ports"; }

# list MIX: $TMP/MIX/proxylist.txt in the program's stored form, and
# $TMP/MIX/kinds (endpoint, then what the verdict must be).
list() {
  local dir=$TMP/$1 r s b
  IFS=, read -r r s b <<<"$1"
  mkdir -p "$dir"
  {
    awk -v n="$r" '$1 == "refuses" && c++ < n { print $2, "dead" }' "$TMP/hostile.out"
    awk -v n="$s" '$1 == "silent" && c++ < n { print $2, "bad" }' "$TMP/hostile.out"
    awk -v n="$b" '$1 == "blackhole" && c++ < n { print $2, "dead" }' "$TMP/hostile.out"
    echo "127.0.0.1:$(cat "$PEERS/transparent.port") alive transparent yes"
    echo "127.0.0.1:$(cat "$PEERS/anonymous.port") alive anonymous no"
    echo "127.0.0.1:$(cat "$PEERS/elite.port") alive elite yes"
  } | awk 'BEGIN { srand(1) } { print rand() "\t" $0 }' | sort -n | cut -f2- >"$dir/kinds"
  awk '{ printf "%s\r\r\n", $1 }' "$dir/kinds" >"$dir/proxylist.txt"
}

# verdicts KINDS RESULTS: how many entries of RESULTS (tab-separated, as
# quillon-probe prints and proxycheck.txt holds) got the verdict they must.
verdicts() {
  awk -F'\t' 'NR == FNR { split($0, k, " "); want[k[1]] = k[2] (k[3] ? " " k[3] " " k[4] : ""); next }
    { got = $2 ($2 == "alive" ? " " $4 " " $5 : ""); if (want[$1] == got) ok++ }
    END { print ok + 0 }' "$1" "$2"
}

# sample PID: raises PEAK_THREADS and PEAK_RSS (KiB) to what /proc shows.
sample() {
  local key value _
  while read -r key value _; do
    case $key in
      Threads:) ((value > PEAK_THREADS)) && PEAK_THREADS=$value ;;
      VmHWM:) ((value > PEAK_RSS)) && PEAK_RSS=$value ;;
    esac
  done <"/proc/$1/status" 2>/dev/null || true
}

# measure OUT COMMAND...: runs it and sets SECONDS_TAKEN, PEAK_THREADS and
# PEAK_RSS (KiB), sampling /proc every 20 ms.
measure() {
  local out=$1 pid start end
  shift
  start=$(date +%s.%N)
  "$@" >"$out" 2>"$out.err" &
  pid=$!
  PEAK_THREADS=0 PEAK_RSS=0
  while kill -0 "$pid" 2>/dev/null; do
    sample "$pid"
    sleep 0.02
  done
  wait "$pid" || { cat "$out.err" >&2; die "$1 failed"; }
  end=$(date +%s.%N)
  SECONDS_TAKEN=$(echo "$end - $start" | bc)
}

# graded KINDS RESULTS: how many entries of KINDS have a line in RESULTS.
graded() {
  awk -F'\t' 'NR == FNR { split($0, k, " "); want[k[1]] = 1; next }
    want[$1] { ok++; delete want[$1] } END { print ok + 0 }' "$1" "$2"
}

# measure_program NAME DIR: build/quillon on DIR's list (its stored list),
# switched on through the elite tinyproxy, until proxycheck.txt grades every
# entry (at most 120 s); one second start meanwhile. Sets what measure does,
# SECOND_SECONDS and RESULTS (its proxycheck.txt).
measure_program() {
  local data=$TMP/$1/data end total
  total=$(wc -l <"$2/kinds")
  rm -rf "${TMP:?}/$1"
  mkdir -p "$data"
  cp "$2/proxylist.txt" "$data/proxylist.txt"
  RESULTS=$data/proxycheck.txt
  PEAK_THREADS=0 PEAK_RSS=0
  PROGRAM_ENV=("QUILLON_VENDOR_URL=$QUILLON_VENDOR_URL")
  start_program "$1" "$(cat "$PEERS/elite.port")"
  second_start
  [ ! -e "$RESULTS" ] || die "$1: the check ended before the second start did; it measured nothing"
  until [ -s "$RESULTS" ] && [ "$(graded "$2/kinds" "$RESULTS")" = "$total" ]; do
    kill -0 "$PROGRAM_PID" 2>/dev/null || { cat "$TMP/$1.out" >&2; die "$1 ended during the check"; }
    (($(echo "$(date +%s.%N) - $PROGRAM_STARTED > 120" | bc))) && die "$1: no full proxycheck.txt in 120 s"
    sample "$PROGRAM_PID"
    sleep 0.02
  done
  end=$(date +%s.%N)
  sample "$PROGRAM_PID"
  SECONDS_TAKEN=$(echo "$end - $PROGRAM_STARTED" | bc)
  stop_program
}

median() { tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "| list (refused, silent, blackholed + 3 live) | program | s to the last verdict (median of $RUNS) | runs s | peak threads | peak RSS MiB | right verdicts | second start meanwhile s (slowest) |"
echo "|---|---|---|---|---|---|---|---|"
for mix in $MIXES; do
  list "$mix"
  dir=$TMP/$mix
  total=$(wc -l <"$dir/kinds")
  for program in $PROGRAMS; do
    times=() threads=0 rss=0 right=$total second=
    for ((run = 1; run <= RUNS; run++)); do
      rm -f "$dir/proxycheck.txt"
      case $program in
        quillon-probe)
          measure "$dir/out" "$PROBE" --judge "$JUDGE" "$dir/proxylist.txt"
          results=$dir/out ;;
        proxy_check_run)
          measure "$dir/out" "$RUN" "$dir/"
          results=$dir/proxycheck.txt ;;
        quillon)
          measure_program "quillon-$mix-$run" "$dir"
          results=$RESULTS
          say "$mix quillon run $run: second start ${SECOND_SECONDS}s"
          if [ -z "$second" ] || (($(echo "$SECOND_SECONDS > $second" | bc))); then
            second=$SECOND_SECONDS
          fi ;;
        *) die "unknown program: $program" ;;
      esac
      times+=("$SECONDS_TAKEN")
      ((PEAK_THREADS > threads)) && threads=$PEAK_THREADS
      ((PEAK_RSS > rss)) && rss=$PEAK_RSS
      ok=$(verdicts "$dir/kinds" "$results")
      ((ok < right)) && right=$ok
      say "$mix $program run $run: ${SECONDS_TAKEN}s, $PEAK_THREADS threads, $PEAK_RSS KiB, $ok/$total right"
    done
    shown=$program
    [ "$program" = quillon ] && shown=build/quillon
    printf '| %s (%d entries) | %s | %.2f | %s | %d | %.1f | %d/%d | %s |\n' "$mix" "$total" \
      "$shown" "$(echo "${times[*]}" | median)" "$(printf '%.1f ' "${times[@]}")" \
      "$threads" "$(echo "$rss / 1024" | bc -l)" "$right" "$total" "${second:+$(printf '%.2f' "$second")}"
  done
done
