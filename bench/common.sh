# Shared by the timed benchmark scripts, sourced first: build folder, run
# count and length, messages, temporary folder, processes stopped by pid at
# exit, free loopback ports, and the engine runner.
# Needs: ROOT (the top of the tree); RUNNER (the engine_runner binary) before
# start_runner is called.
# Reads: BENCH_BUILD_DIR (default: build/ at the top of the tree),
# BENCH_QUICK=1 (1 run of 2 s per figure), else BENCH_RUNS (3) runs of
# BENCH_SECONDS (5) seconds.

BUILD=${BENCH_BUILD_DIR:-$ROOT/build}
if [ "${BENCH_QUICK:-0}" = 1 ]; then
  RUNS=1 SECONDS_PER_RUN=2
else
  RUNS=${BENCH_RUNS:-3} SECONDS_PER_RUN=${BENCH_SECONDS:-5}
fi
PATH=$PATH:/usr/sbin:/sbin
# curl honours these even with -x (NO_PROXY would even bypass it).
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

say() { printf '%s\n' "$*" >&2; }
die() { say "${0##*/}: $*"; exit 1; }

# --- processes and clean-up ----------------------------------------------------
TMP=$(mktemp -d /tmp/quillon-bench-XXXXXX)
# nginx workers drop to an unprivileged user and must read the files.
chmod 755 "$TMP"
PIDS=()

# reap PID: waits up to 5 s for it to end after a SIGTERM, then kills it.
reap() {
  local i
  for ((i = 0; i < 50; i++)); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${PIDS[@]}"; do
    reap "$pid"
  done
  rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# pick_port VAR: a free port in 20000-32767, below Linux's default ephemeral
# range, so that the benchmark's own outgoing connections cannot take it
# before its server binds it. A port that accepts a connection is in use.
TAKEN=" "
pick_port() {
  local p i
  for ((i = 0; i < 200; i++)); do
    p=$((20000 + RANDOM % 12768))
    case "$TAKEN" in *" $p "*) continue ;; esac
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      TAKEN="$TAKEN$p "
      printf -v "$1" '%s' "$p"
      return 0
    fi
  done
  die "no free port found"
}

# wait_port NAME PID PORT LOG
wait_port() {
  local i
  for ((i = 0; i < 100; i++)); do
    kill -0 "$2" 2>/dev/null || { cat "$4" >&2; die "$1 exited at start"; }
    if (exec 3<>"/dev/tcp/127.0.0.1/$3") 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  cat "$4" >&2
  die "$1 is not listening on port $3"
}

# start_runner NAME UPSTREAM_PORT [RUNNER OPTIONS]: sets RUNNER_PID and
# RUNNER_PORT.
start_runner() {
  local out=$TMP/$1.out i
  : >"$out"  # the child opens it only once it runs
  "$RUNNER" 0 "127.0.0.1:$2" "${@:3}" </dev/null >"$out" 2>&1 &
  RUNNER_PID=$!
  PIDS+=("$RUNNER_PID")
  for ((i = 0; i < 100; i++)); do
    RUNNER_PORT=$(sed -n 's/^ready \([0-9][0-9]*\)$/\1/p' "$out")
    [ -z "$RUNNER_PORT" ] || return 0
    kill -0 "$RUNNER_PID" 2>/dev/null || break
    sleep 0.05
  done
  cat "$out" >&2
  die "engine_runner ($1) did not get ready"
}


# start_program NAME UPSTREAM_PORT [SETTING=VALUE...]: the shipped program,
# build/quillon, as a user runs it after installing: a home and settings
# store of its own (what is not given stays absent), no display, switched on
# through 127.0.0.1:UPSTREAM_PORT at its start. It listens on its fixed port
# 8080. Sets PROGRAM_PID and PROGRAM_STARTED (date +%s.%N as it is run).
# Needs PROGRAM and REG (the quillon-reg binary); PROGRAM_ENV (NAME=VALUE
# words, a display say) adds to its environment. A list put in
# $TMP/NAME/data/proxylist.txt beforehand is its stored list; else it is empty.
start_program() {
  local name=$1 home=$TMP/$1 setting n t d
  (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null && die "port 8080 is in use; the program's port is fixed"
  mkdir -p "$home/config" "$home/data"
  [ -e "$home/data/proxylist.txt" ] || : >"$home/data/proxylist.txt"
  local env=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_CURRENT_DESKTOP
    HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data"
    XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home" GSETTINGS_BACKEND=keyfile
    QUILLON_VENDOR_URL=http://127.0.0.1:9 ${PROGRAM_ENV[@]+"${PROGRAM_ENV[@]}"})
  for setting in AppPath=REG_SZ="$home/data/" RunFirst=REG_DWORD=1 Minimize=REG_DWORD=1 \
    ProxyName=REG_SZ="127.0.0.1:$2" "${@:3}"; do
    IFS== read -r n t d <<<"$setting"
    "${env[@]}" "$REG" add 'HKLM\Software\Quillon' /v "$n" /t "$t" /d "$d" /f >/dev/null ||
      die "could not store $n for the program"
  done
  chmod 700 "$home"
  PROGRAM_HOME=$home PROGRAM_RUN_ENV=("${env[@]}")
  PROGRAM_STARTED=$(date +%s.%N)
  (cd "$home" && exec "${env[@]}" "$PROGRAM") </dev/null >"$TMP/$name.out" 2>&1 &
  PROGRAM_PID=$!
  PIDS+=("$PROGRAM_PID")
  wait_port "quillon ($name)" "$PROGRAM_PID" 8080 "$TMP/$name.out"
}

# second_start: the program started last, run again as a person does while
# it runs (it hands over to the running copy and ends). Sets SECOND_SECONDS;
# fails unless it ends with status 0 within 10 s.
second_start() {
  local start status=0
  start=$(date +%s.%N)
  (cd "$PROGRAM_HOME" && exec timeout 10 "${PROGRAM_RUN_ENV[@]}" "$PROGRAM") </dev/null \
    >"$PROGRAM_HOME/second.out" 2>&1 || status=$?
  SECOND_SECONDS=$(echo "$(date +%s.%N) - $start" | bc)
  [ "$status" = 0 ] || { cat "$PROGRAM_HOME/second.out" >&2; die "a second start ended with $status"; }
}

# stop_program: ends the program started last (SIGTERM: it ends its run).
stop_program() {
  kill -TERM "$PROGRAM_PID" 2>/dev/null || true
  reap "$PROGRAM_PID"
}
