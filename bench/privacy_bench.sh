#!/usr/bin/env bash
# Times one cleaning cycle over a generated profile: Firefox ESR and Chromium,
# each with HISTORY visited pages and COOKIES cookies (real schemas), cleaned
#  - by the cleaner as shipped (one transaction per database and walk),
#  - by the same cleaner committing every deleted entry (stopped after
#    ROW_LIMIT seconds; the rate gives the whole),
#  - by BleachBit (firefox.cookies firefox.url_history chromium.cookies
#    chromium.history),
# each on its own copy of the same profile. Prints a Markdown table.
#
#   bench/privacy_bench.sh   [HISTORY=100000 COOKIES=20000 RUNS=3 ROW_LIMIT=120]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BENCH_BUILD_DIR:-$ROOT/build}
HISTORY=${HISTORY:-100000}
COOKIES=${COOKIES:-20000}
RUNS=${RUNS:-3}
ROW_LIMIT=${ROW_LIMIT:-120}

say() { printf '%s\n' "$*" >&2; }

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" --target privacy_bench_profile privacy_bench_clean >/dev/null
GEN=$BUILD/bench/privacy_bench_profile
CLEAN=$BUILD/bench/privacy_bench_clean

WORK=$(mktemp -d /tmp/quillon-privacy-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
say "generating $HISTORY pages and $COOKIES cookies per browser"
"$GEN" "$ROOT/privacy/testdata/schemas" "$WORK/template" "$HISTORY" "$COOKIES"

FF=.mozilla/firefox/bench.default-esr
CR=.config/chromium/Default
rows() { # home -> rows left: history, cookies (both browsers)
  local h=$1
  local hist=$(( $(sqlite3 "$h/$FF/places.sqlite" 'SELECT count(*) FROM moz_historyvisits') +
                 $(sqlite3 "$h/$CR/History" 'SELECT count(*) FROM urls') ))
  local jar=0
  [ -f "$h/$FF/cookies.sqlite" ] && jar=$((jar + $(sqlite3 "$h/$FF/cookies.sqlite" 'SELECT count(*) FROM moz_cookies')))
  [ -f "$h/$CR/Cookies" ] && jar=$((jar + $(sqlite3 "$h/$CR/Cookies" 'SELECT count(*) FROM cookies')))
  local marks=$(sqlite3 "$h/$FF/places.sqlite" 'SELECT count(*) FROM moz_bookmarks')
  echo "$hist $jar $marks"
}

# Runs a command on a fresh copy; prints "wall cpu left-history left-cookies bookmarks".
measure() {
  local name=$1; shift
  rm -rf "$WORK/run"
  cp -a "$WORK/template" "$WORK/run"
  sync
  local start end t0 t1 me=$BASHPID
  # CPU of the children this subshell waited for (cutime + cstime).
  t0=$(awk '{print $16 + $17}' /proc/$me/stat)
  start=$(date +%s.%N)
  HOME=$WORK/run XDG_CONFIG_HOME=$WORK/run/.config XDG_CACHE_HOME=$WORK/run/.cache \
    "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  t1=$(awk '{print $16 + $17}' /proc/$me/stat)
  local hz=$(getconf CLK_TCK)
  printf '%s %.2f %.2f %s\n' "$name" "$(echo "$end - $start" | bc)" \
    "$(echo "($t1 - $t0) / $hz" | bc -l)" "$(rows "$WORK/run")"
}

total=$(( 2 * HISTORY + 2 * COOKIES ))
echo "| cleaner | wall s (median of $RUNS) | CPU s (median) | history rows left | cookies left | bookmarks |"
echo "|---|---|---|---|---|---|"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
for who in one-transaction bleachbit; do
  walls=() cpus=() line=""
  for ((r = 1; r <= RUNS; r++)); do
    if [ "$who" = one-transaction ]; then
      line=$(measure "$who" "$CLEAN" "$WORK/run" 0)
    else
      command -v bleachbit >/dev/null || { say "bleachbit missing"; continue 2; }
      line=$(measure "$who" bleachbit --clean firefox.cookies firefox.url_history \
        chromium.cookies chromium.history)
    fi
    say "$line"
    walls+=("$(echo "$line" | cut -d' ' -f2)")
    cpus+=("$(echo "$line" | cut -d' ' -f3)")
  done
  wall=$(printf '%s\n' "${walls[@]}" | median)
  cpu=$(printf '%s\n' "${cpus[@]}" | median)
  set -- $line
  echo "| $who | $wall | $cpu | $4 | $5 | $6 |"
done

# Per-entry commits: one run, stopped after ROW_LIMIT seconds.
line=$(measure per-entry-commit timeout "$ROW_LIMIT" "$CLEAN" "$WORK/run" 1)
say "$line"
set -- $line
left=$(( $4 + $5 ))
done_rows=$(( total - left ))
if [ "$left" -eq 0 ]; then
  echo "| per-entry commits | $2 | $3 | $4 | $5 | $6 |"
else
  est=$(echo "$2 * $total / ($done_rows + 1)" | bc)
  echo "| per-entry commits | stopped at $2 after $done_rows of $total rows: about $est for all | $3 | $4 | $5 | $6 |"
fi
