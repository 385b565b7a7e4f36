#!/usr/bin/env bash
# Times cleaning over a generated home of long use (bench/privacy_bench_profile:
# Firefox ESR and Chromium, each PAGES pages with 1-3 visits, the side tables,
# cookies, cache entries and site data), each cleaner on its own copy:
#  - the cleaner as shipped (bench/privacy_bench_clean): one cycle with every
#    option on, then CYCLES more over the cleaned copy (what the worker pays
#    every ten seconds);
#  - OLD_CLEAN, when set: another build of privacy_bench_clean, for a before
#    and after;
#  - BleachBit with cookies, history and cache of both browsers, and with
#    cookies and history only.
# Prints Markdown tables: times, then what each left.
#
#   bench/privacy_bench.sh   [PAGES=100000 RUNS=3 CYCLES=20 OLD_CLEAN=path]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BENCH_BUILD_DIR:-$ROOT/build}
PAGES=${PAGES:-100000}
RUNS=${RUNS:-3}
CYCLES=${CYCLES:-20}
OLD_CLEAN=${OLD_CLEAN:-}

say() { printf '%s\n' "$*" >&2; }

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" --target privacy_bench_profile privacy_bench_clean >/dev/null
GEN=$BUILD/bench/privacy_bench_profile
CLEAN=$BUILD/bench/privacy_bench_clean

WORK=$(mktemp -d /tmp/quillon-privacy-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
say "generating $PAGES pages per browser"
"$GEN" "$ROOT/privacy/testdata/schemas" "$WORK/template" "$PAGES"

FF=.mozilla/firefox/bench.default-esr
CR=.config/chromium/Default
q() { # database sql -> the number, 0 when the database is gone
  if [ -f "$1" ]; then sqlite3 "$1" "$2"; else echo 0; fi
}
# What is left in a home, as the columns of the second table.
left() {
  local h=$1 p=$1/$FF/places.sqlite c=$1/$CR/History
  local pages=$(( $(q "$p" "SELECT count(*) FROM moz_places WHERE foreign_count = 0") +
                  $(q "$c" 'SELECT count(*) FROM urls') ))
  local visits=$(( $(q "$p" 'SELECT count(*) FROM moz_historyvisits') +
                   $(q "$c" 'SELECT count(*) FROM visits') ))
  local flags=$(q "$p" 'SELECT count(*) FROM moz_places WHERE visit_count <> 0 OR typed <> 0
                        OR last_visit_date IS NOT NULL')
  local side=$(( $(q "$p" 'SELECT count(*) FROM moz_inputhistory') +
                 $(q "$p" 'SELECT count(*) FROM moz_places_metadata') +
                 $(q "$p" 'SELECT count(*) FROM moz_annos') +
                 $(q "$c" 'SELECT count(*) FROM visited_links') +
                 $(q "$c" 'SELECT count(*) FROM content_annotations') +
                 $(q "$c" 'SELECT count(*) FROM context_annotations') +
                 $(q "$c" 'SELECT count(*) FROM keyword_search_terms') ))
  local jar=$(( $(q "$h/$FF/cookies.sqlite" 'SELECT count(*) FROM moz_cookies') +
                $(q "$h/$CR/Cookies" 'SELECT count(*) FROM cookies') ))
  local cache=$(find "$h/.cache" -regextype posix-extended -type f \( -name '*_0' -o -regex '.*/[0-9A-F]{40}' \) | wc -l)
  local site=$(( $(find "$h/$FF/storage/default" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l) +
                 $(find "$h/$CR/IndexedDB" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l) +
                 $(find "$h/$CR/Local Storage" -type f 2>/dev/null | wc -l) ))
  local marks=$(q "$p" 'SELECT count(*) FROM moz_bookmarks')
  local check="$(q "$p" 'PRAGMA quick_check')/$(q "$c" 'PRAGMA quick_check')"
  echo "$pages | $visits | $flags | $side | $jar | $cache | $site | $marks | $check"
}

copy() {
  rm -rf "$WORK/run"
  cp -a "$WORK/template" "$WORK/run"
  sync
}

# Runs a command on the copy; prints "wall cpu" (CPU of the children).
timed() {
  local start end t0 t1 me=$BASHPID hz
  hz=$(getconf CLK_TCK)
  t0=$(awk '{print $16 + $17}' /proc/$me/stat)
  start=$(date +%s.%N)
  HOME=$WORK/run XDG_CONFIG_HOME=$WORK/run/.config XDG_CACHE_HOME=$WORK/run/.cache \
    "$@" >"$WORK/out" 2>"$WORK/err" || true
  end=$(date +%s.%N)
  t1=$(awk '{print $16 + $17}' /proc/$me/stat)
  printf '%.2f %.2f\n' "$(echo "$end - $start" | bc)" "$(echo "($t1 - $t0) / $hz" | bc -l)"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
cookies_history() { # step times on stderr of the clean tool -> cookies + history
  awk '$1 == "cookies" || $1 == "history" {s += $2} END {printf "%.2f", s}' "$WORK/err"
}
step() { awk -v n="$1" '$1 == n {printf "%.2f", $2}' "$WORK/err"; }

declare -A LEFT
times_table=""
for who in quillon old bleachbit-six bleachbit-four; do
  [ "$who" = old ] && [ -z "$OLD_CLEAN" ] && continue
  if [[ $who == bleachbit* ]] && ! command -v bleachbit >/dev/null; then
    say "bleachbit missing"; continue
  fi
  walls=() cpus=() ch=() temp=() idle=()
  for ((r = 1; r <= RUNS; r++)); do
    copy
    case $who in
      quillon) set -- $(timed "$CLEAN" "$WORK/run" 0 1) ;;
      old) set -- $(timed "$OLD_CLEAN" "$WORK/run" 0) ;;
      bleachbit-six) set -- $(timed bleachbit --clean firefox.cookies firefox.url_history \
          firefox.cache chromium.cookies chromium.history chromium.cache) ;;
      bleachbit-four) set -- $(timed bleachbit --clean firefox.cookies firefox.url_history \
          chromium.cookies chromium.history) ;;
    esac
    walls+=("$1") cpus+=("$2")
    if [ "$who" = quillon ] || [ "$who" = old ]; then
      ch+=("$(cookies_history)") temp+=("$(step temporary-files)")
    fi
    LEFT[$who]=$(left "$WORK/run")
    if [ "$who" = quillon ]; then
      # Later cycles over the cleaned copy, in one process as in the program.
      HOME=$WORK/run "$CLEAN" "$WORK/run" 0 "$CYCLES" >"$WORK/cycles" 2>/dev/null
      idle+=("$(awk 'NR > 1 {print $6 * 1000}' "$WORK/cycles" | median)")
    fi
    say "$who run $r: wall $1 cpu $2 ${ch[*]:+cookies+history ${ch[-1]}}"
  done
  wall=$(printf '%s\n' "${walls[@]}" | median)
  cpu=$(printf '%s\n' "${cpus[@]}" | median)
  chm=$( [ ${#ch[@]} -gt 0 ] && printf '%s\n' "${ch[@]}" | median || echo "-")
  tm=$( [ ${#temp[@]} -gt 0 ] && printf '%s\n' "${temp[@]}" | median || echo "-")
  im=$( [ ${#idle[@]} -gt 0 ] && printf '%s\n' "${idle[@]}" | median || echo "-")
  times_table+="| $who | $wall | $cpu | $chm | $tm | $im |"$'\n'
done

echo "| cleaner | wall s (median of $RUNS) | CPU s | cookies + history s | temporary files s | later cycle CPU ms |"
echo "|---|---|---|---|---|---|"
printf '%s' "$times_table"
echo
echo "| left after one run | pages | visits | visit flags | side rows | cookies | cache entries | site data | bookmarks | quick_check |"
echo "|---|---|---|---|---|---|---|---|---|---|"
echo "| generated | $(left "$WORK/template") |"
for who in quillon old bleachbit-six bleachbit-four; do
  [ -n "${LEFT[$who]:-}" ] && echo "| $who | ${LEFT[$who]} |"
done
