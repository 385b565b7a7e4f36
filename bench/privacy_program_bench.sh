#!/usr/bin/env bash
# The cleaning as the shipped program does it: build/quillon with its own
# settings store (every cleaning option on, as after installing) and a home
# holding the generated profiles of bench/privacy_bench_profile. Measures
#  - how long after the start the profiles are clean (cookies, history,
#    cache entries and local storage gone);
#  - the program's CPU over SECONDS of cycles over the clean profiles, less
#    the CPU of the same run with every cleaning option off: what the worker
#    costs every ten seconds.
#
#   bench/privacy_program_bench.sh   [PAGES=100000 SECONDS_IDLE=60]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=bench/common.sh
source "$ROOT/bench/common.sh"
PAGES=${PAGES:-100000}
SECONDS_IDLE=${SECONDS_IDLE:-60}
cmake --build "$BUILD" --target quillon quillon-reg privacy_bench_profile >/dev/null
PROGRAM=$BUILD/quillon
REG=$BUILD/quillon-reg
GEN=$BUILD/bench/privacy_bench_profile

# CPU of all the program's threads, in nanoseconds (the scheduler's count,
# finer than the clock ticks of /proc/PID/stat).
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%d", s}'; }
clean() { # home: true when what the cleaning removes is gone
  local h=$1
  [ "$(sqlite3 "$h/.mozilla/firefox/bench.default-esr/cookies.sqlite" \
      'SELECT count(*) FROM moz_cookies' 2>/dev/null)" = 0 ] &&
    [ "$(sqlite3 "$h/.config/chromium/Default/History" 'SELECT count(*) FROM urls' 2>/dev/null)" = 0 ] &&
    [ ! -e "$h/.config/chromium/Default/Local Storage" ] &&
    [ -z "$(find "$h/.cache" -type f -name '*_0' -print -quit)" ]
}

pick_port dead
declare -A used
for mode in on off; do
  home=$TMP/$mode
  options=()
  if [ "$mode" = on ]; then
    "$GEN" "$ROOT/privacy/testdata/schemas" "$home" "$PAGES"
  else
    mkdir -p "$home"
    options=(ClearTmpFiles=REG_DWORD=0 ClearCookies=REG_DWORD=0 DeleteAddresses=REG_DWORD=0
      DeleteHistory=REG_DWORD=0)
  fi
  # The program's XDG folders are where the browsers keep their profiles.
  mkdir -p "$home/.config" "$home/.cache"
  ln -s .config "$home/config"
  ln -s .cache "$home/cache"
  sync
  start=$(date +%s.%N)
  start_program "$mode" "$dead" "${options[@]}"
  if [ "$mode" = on ]; then
    for ((i = 0; i < 600; i++)); do
      clean "$home" && break
      sleep 0.05
    done
    clean "$home" || die "the program did not clean the profiles within 30 s"
    printf -v first '%.2f' "$(echo "$(date +%s.%N) - $start" | bc)"
    say "profiles clean $first s after the start"
  fi
  sleep 2
  t0=$(cpu_ns "$PROGRAM_PID")
  sleep "$SECONDS_IDLE"
  t1=$(cpu_ns "$PROGRAM_PID")
  used[$mode]=$((t1 - t0))
  stop_program
done

cycles=$((SECONDS_IDLE / 10))
per=$(echo "(${used[on]} - ${used[off]}) / 1000000 / $cycles" | bc -l)
echo "| program | profiles clean after the start | CPU over ${SECONDS_IDLE} s, cleaning on | cleaning off | per cycle over clean profiles |"
echo "|---|---|---|---|---|"
printf '| build/quillon | %s s | %.1f ms | %.1f ms | %.1f ms |\n' "$first" \
  "$(echo "${used[on]} / 1000000" | bc -l)" "$(echo "${used[off]} / 1000000" | bc -l)" "$per"
