#!/usr/bin/env bash
# The shipped program at rest, as a user leaves it running all day:
# build/quillon with a home and settings store of its own, switched on at its
# start through a local tinyproxy (ProxyName stored, RunFirst=1), every
# cleaning option on, clean (empty) Firefox and Chromium profiles in its home,
# and nobody using it. Once it has settled, measures SECONDS_AT_REST seconds:
#  - wake-ups a second: the voluntary and involuntary context switches of all
#    its threads (/proc/PID/task/*/status), before and after, also by thread;
#  - CPU a minute: utime + stime of /proc/PID/stat (clock ticks of 10 ms,
#    threads that ended included) and the scheduler's own count of the
#    threads that run (/proc/PID/task/*/schedstat, nanoseconds);
#  - RSS and threads at the end.
# Targets: at most 0.3 wake-ups a second in all, at most 30 ms of CPU a minute.
# Each display is measured in turn: "offscreen" (no display, as the program
# starts without one) and "xvfb" (an X display of its own without a desktop,
# so without a notification area; skipped when Xvfb is missing). Both get a
# session bus of their own.
#
#   bench/idle.sh   [SECONDS_AT_REST=60 DISPLAYS="offscreen xvfb" IDLE_TRACE=0]
#
# BENCH_PROGRAM and BENCH_REG measure another build of the program (an older
# one, say); BENCH_BUILD_DIR picks the build folder. IDLE_TRACE=1 also runs
# strace on the program for the measured time (which wakes it no more) and
# counts the system calls that ended a wait, by thread and call, with the
# time-outs they were given: what wakes it.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=bench/common.sh
source "$ROOT/bench/common.sh"
SECONDS_AT_REST=${SECONDS_AT_REST:-60}
DISPLAYS=${DISPLAYS:-offscreen xvfb}
IDLE_TRACE=${IDLE_TRACE:-0}
if [ -z "${BENCH_PROGRAM:-}" ]; then
  cmake --build "$BUILD" --target quillon quillon-reg >/dev/null
fi
PROGRAM=${BENCH_PROGRAM:-$BUILD/quillon}
REG=${BENCH_REG:-$(dirname "$PROGRAM")/quillon-reg}
for tool in tinyproxy dbus-daemon sqlite3; do
  command -v "$tool" >/dev/null || die "needs $tool"
done
[ "$IDLE_TRACE" = 0 ] || command -v strace >/dev/null || die "IDLE_TRACE=1 needs strace"

# --- the peers --------------------------------------------------------------------

pick_port upstream
printf 'Port %s\nListen 127.0.0.1\nTimeout 600\nLogLevel Critical\nAllow 127.0.0.1\n' \
  "$upstream" >"$TMP/tinyproxy.conf"
tinyproxy -d -c "$TMP/tinyproxy.conf" >"$TMP/tinyproxy.log" 2>&1 &
PIDS+=($!)
wait_port tinyproxy $! "$upstream" "$TMP/tinyproxy.log"

# until SECONDS CONDITION...: runs the condition every 50 ms until it holds;
# false when it did not within the seconds.
until_within() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < end)) || return 1
    sleep 0.05
  done
}

dbus-daemon --session --nofork --address="unix:path=$TMP/bus" >"$TMP/dbus.log" 2>&1 &
PIDS+=($!)
until_within 30 test -S "$TMP/bus" || die "the session bus did not start"

# --- a home with clean profiles --------------------------------------------------

# database FILE SCHEMA [SQL]: an empty database of a browser's schema dump.
database() {
  { grep -v '^CREATE TABLE sqlite_' "$ROOT/privacy/testdata/schemas/$2"; echo "${3:-}"; } |
    sqlite3 "$1"
}

# clean_home HOME: a Firefox profile of the legacy root and a Chromium Default
# profile, their databases made and empty, their caches empty, as after a
# cleaning; the program's XDG folders are where the browsers keep them.
clean_home() {
  local home=$1 firefox=$1/.mozilla/firefox/idle.default-esr chromium=$1/.config/chromium/Default
  mkdir -p "$firefox" "$chromium" "$home/.cache/mozilla/firefox/idle.default-esr/cache2/entries" \
    "$home/.cache/chromium/Default/Cache/Cache_Data"
  printf '[Profile0]\nName=default-esr\nIsRelative=1\nPath=idle.default-esr\nDefault=1\n' \
    >"$home/.mozilla/firefox/profiles.ini"
  database "$firefox/places.sqlite" firefox153esr_places.sql 'PRAGMA journal_mode=WAL;' >/dev/null
  database "$firefox/cookies.sqlite" firefox153esr_cookies.sql
  printf '{"profile":{"info_cache":{"Default":{"name":"Person 1"}}}}' \
    >"$home/.config/chromium/Local State"
  database "$chromium/History" chromium156_History.sql \
    "INSERT INTO meta VALUES ('mmap_status', '-1'), ('version', '70'), ('last_compatible_version', '16');"
  database "$chromium/Cookies" chromium156_Cookies.sql
  ln -s .config "$home/config"
  ln -s .cache "$home/cache"
}

# --- what is measured ---------------------------------------------------------------

# Context switches of every thread that runs now: "TID COMM COUNT" lines,
# sorted by TID for join.
switches() {
  local task
  for task in /proc/"$1"/task/*; do
    awk -v tid="${task##*/}" -v comm="$(tr ' ' _ <"$task/comm" 2>/dev/null)" \
      '/^(non)?voluntary_ctxt_switches/ {n += $2} END {if (comm != "") print tid, comm, n}' \
      "$task/status" 2>/dev/null || true
  done | LC_ALL=C sort -k1,1
}
# utime + stime of the whole process in clock ticks (after the name, which
# may hold spaces: fields 14 and 15).
cpu_ticks() { sed 's/.*) //' /proc/"$1"/stat | awk '{print $12 + $13}'; }
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%d", s}'; }
rss_kib() { awk '/^VmRSS:/ {print $2}' /proc/"$1"/status; }
threads_changed() { [ "$(ls /proc/"$1"/task)" != "$2" ]; }

# settle PID: once listening, the program has settled when its threads have
# stayed the same for longer than the engine's pool keeps an idle thread
# (30 s) and a cleaning cycle's pause (10 s): what the start left to do (the
# first cleaning, threads that end after their work) is over.
settle() {
  local tasks i
  for ((i = 0; i < 8; i++)); do
    tasks=$(ls /proc/"$1"/task)
    until_within 35 threads_changed "$1" "$tasks" || return 0
  done
  die "the program's threads did not settle within five minutes"
}

# measure NAME PID: the row of the summary in ROW, the threads' rows in
# THREADS; false when threads came or went meanwhile (something used the
# program: port 8080 is the machine's).
measure() {
  local name=$1 pid=$2 ticks0 ticks1 ns0 ns1 before after both
  before=$(switches "$pid")
  ticks0=$(cpu_ticks "$pid") ns0=$(cpu_ns "$pid")
  sleep "$SECONDS_AT_REST"
  after=$(switches "$pid")
  ticks1=$(cpu_ticks "$pid") ns1=$(cpu_ns "$pid")
  # Threads that ran through the whole measurement: "TID COMM N0 COMM N1".
  both=$(LC_ALL=C join <(echo "$before") <(echo "$after") | awk '$2 == $4')
  ROW=$(awk -v name="$name" -v s="$SECONDS_AT_REST" -v tick="$(getconf CLK_TCK)" \
    -v t="$((ticks1 - ticks0))" -v ns="$((ns1 - ns0))" -v rss="$(rss_kib "$pid")" \
    -v th0="$(wc -l <<<"$before")" -v th1="$(wc -l <<<"$after")" '
      {w += $5 - $3}
      END {printf "| %s | %d | %.2f | %.0f | %.1f | %.1f | %d%s |", name, w, w / s,
        t * 1000 / tick * 60 / s, ns / 1e6 * 60 / s, rss / 1024, th1,
        th0 == th1 ? "" : " (" th0 " before)"}' <<<"$both")
  THREADS=()
  while read -r tid comm n0 _ n1; do
    THREADS+=("$(awk -v name="$name" -v t="$comm ($tid)" -v n=$((n1 - n0)) \
      -v s="$SECONDS_AT_REST" 'BEGIN {printf "| %s | %s | %d | %.2f |", name, t, n, n / s}')")
  done <<<"$both"
  [ "$(cut -d' ' -f1 <<<"$before")" = "$(cut -d' ' -f1 <<<"$after")" ]
}

# trace NAME PID: as long again under strace (which stops the program at
# every system call: its context switches are not counted meanwhile); the
# rows in TRACE_ROWS.
trace() {
  local tracer
  strace -f -qq -tt -T -o "$TMP/$1.trace" -p "$2" 2>"$TMP/strace.log" &
  tracer=$!
  PIDS+=("$tracer")
  until_within 30 test -e "$TMP/$1.trace" || die "strace did not start"
  sleep "$SECONDS_AT_REST"
  kill -TERM "$tracer" 2>/dev/null || true
  reap "$tracer"
  trace_rows "$1" "$TMP/$1.trace" "$2"
}

# trace_rows NAME FILE PID: the system calls that waited (5 ms or
# more) and what ended their wait, by thread and call: how often, and how
# long they waited on average.
trace_rows() {
  local name=$1 file=$2 pid=$3 tid comm rest
  while IFS='|' read -r tid rest; do
    comm=$(cat "/proc/$pid/task/$tid/comm" 2>/dev/null || echo gone)
    TRACE_ROWS+=("| $name | $comm ($tid) |$rest|")
  done < <(awk -v s="$SECONDS_AT_REST" '
    / <unfinished \.\.\.>$/ { next }
    match($0, /<[0-9.]+>$/) {
      took = substr($0, RSTART + 1, RLENGTH - 2)
      if (took < 0.005) next
      call = $3 == "<..." ? $4 : $3
      sub(/\(.*/, "", call)
      result = $0
      sub(/ <[0-9.]+>$/, "", result)
      sub(/.*\) += /, "", result)
      sub(/ \(.*/, "", result)
      key = $1 "| " call " | " result
      count[key]++
      waited[key] += took
    }
    END {
      for (k in count)
        printf "%s | %d | %.2f | %.3f\n", k, count[k], count[k] / s, waited[k] / count[k]
    }' "$file" | sort -t '|' -k4,4nr)
}

# --- the runs -----------------------------------------------------------------------

ROWS=() THREAD_ROWS=() TRACE_ROWS=()

for display in $DISPLAYS; do
  PROGRAM_ENV=("DBUS_SESSION_BUS_ADDRESS=unix:path=$TMP/bus")
  if [ "$display" = xvfb ]; then
    command -v Xvfb >/dev/null || { say "no Xvfb: the xvfb run is skipped"; continue; }
    n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$TMP/xvfb.log" 2>&1 &
    xvfb=$!
    PIDS+=("$xvfb")
    until_within 30 test -S "/tmp/.X11-unix/X$n" || die "Xvfb did not start"
    PROGRAM_ENV+=("DISPLAY=:$n")
  fi
  home=$TMP/$display
  mkdir -p "$home"
  clean_home "$home"
  start_program "$display" "$upstream" ClearTmpFiles=REG_DWORD=1 ClearCookies=REG_DWORD=1 \
    DeleteAddresses=REG_DWORD=1 DeleteHistory=REG_DWORD=1
  say "$display: started, settling"
  settle "$PROGRAM_PID"
  for _ in 1 2 3; do
    say "$display: measuring $SECONDS_AT_REST s at rest"
    measure "$display" "$PROGRAM_PID" && break
    say "$display: threads came or went meanwhile: once settled, again"
    settle "$PROGRAM_PID"
  done
  ROWS+=("$ROW")
  THREAD_ROWS+=("${THREADS[@]}")
  [ "$IDLE_TRACE" = 0 ] || trace "$display" "$PROGRAM_PID"
  stop_program
  if [ "$display" = xvfb ]; then
    kill -TERM "$xvfb" 2>/dev/null || true
    reap "$xvfb"
  fi
done

echo "Program: $PROGRAM; $SECONDS_AT_REST s at rest after settling."
echo
echo "| display | wake-ups | wake-ups/s | CPU ms/min (ticks) | CPU ms/min (scheduler) | RSS MiB | threads |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${ROWS[@]}"
echo
echo "| display | thread (id) | wake-ups | /s |"
echo "|---|---|---|---|"
printf '%s\n' "${THREAD_ROWS[@]}"
if [ ${#TRACE_ROWS[@]} -gt 0 ]; then
  echo
  echo "| display | thread (id) | call that waited | its result | count | /s | mean wait s |"
  echo "|---|---|---|---|---|---|---|"
  printf '%s\n' "${TRACE_ROWS[@]}"
fi
