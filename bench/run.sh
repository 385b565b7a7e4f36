#!/usr/bin/env bash
# Measures the engine side by side with the relays a user could put in its
# place, all on loopback in one run, so that every figure shares the same
# machine noise. See bench/README.md for what each figure means.
#
#   bench/run.sh                 full run: 3 runs of 5 s per figure (~5 min)
#   BENCH_QUICK=1 bench/run.sh   smoke run: 1 run of 2 s per figure
#
# Also read: BENCH_BUILD_DIR (default: build/ at the top of the tree),
# BENCH_RUNS, BENCH_SECONDS, BENCH_HOLD (held connections, default 500).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=bench/common.sh
source "$ROOT/bench/common.sh"

HOLD=${BENCH_HOLD:-500}
WRK_THREADS=2
BULK_BYTES=$((100 * 1024 * 1024))
STREAM_MODULE=/usr/lib/nginx/modules/ngx_stream_module.so

for tool in nginx tinyproxy privoxy wrk curl cmake ninja timeout; do
  command -v "$tool" >/dev/null || die "$tool is missing; run scripts/setup.sh"
done
[ -f "$STREAM_MODULE" ] || die "the nginx stream module is missing; run scripts/setup.sh"

# --- build -------------------------------------------------------------------
if [ ! -f "$BUILD/build.ninja" ]; then
  say "configuring $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
build_log=$(mktemp)
if ! cmake --build "$BUILD" --target engine_runner hold_connections quillon quillon-reg >"$build_log" 2>&1; then
  cat "$build_log" >&2
  rm -f "$build_log"
  die "build failed"
fi
rm -f "$build_log"
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$BUILD/CMakeCache.txt")
sanitize=$(sed -n 's/^QUILLON_SANITIZE:STRING=//p' "$BUILD/CMakeCache.txt")
case "$build_type" in
  Release | RelWithDebInfo) ;;
  *) say "warning: $BUILD is a '$build_type' build; figures will be low" ;;
esac
[ -z "$sanitize" ] || say "warning: $BUILD is built with sanitizer '$sanitize'"
RUNNER=$BUILD/bench/engine_runner
HOLDER=$BUILD/bench/hold_connections
PROGRAM=$BUILD/quillon
REG=$BUILD/quillon-reg

# Every relay holds two descriptors per connection.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
[ "$(ulimit -n)" -ge $((4 * HOLD + 200)) ] || die "open file limit $(ulimit -n) is too low for $HOLD connections"

# --- ports ---------------------------------------------------------------------

# --- origin files and configurations ----------------------------------------
for var in ORIGIN TINY PRIV STREAM_TINY STREAM_ORIGIN; do
  pick_port "$var"
done

mkdir -p "$TMP/www" "$TMP/origin" "$TMP/stream" "$TMP/privoxy"
head -c 1024 /dev/zero | tr '\0' 'q' >"$TMP/www/1k"
head -c "$BULK_BYTES" /dev/urandom >"$TMP/www/100m"
chmod 755 "$TMP/www"
chmod 644 "$TMP/www/1k" "$TMP/www/100m"

cat >"$TMP/origin/nginx.conf" <<EOF
daemon off;
worker_processes auto;
worker_rlimit_nofile 20000;
pid $TMP/origin/nginx.pid;
error_log $TMP/origin/error.log error;
events { worker_connections 8192; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 100000000;
    keepalive_timeout 600s;
    default_type application/octet-stream;
    client_body_temp_path $TMP/origin/body;
    proxy_temp_path $TMP/origin/proxy;
    fastcgi_temp_path $TMP/origin/fastcgi;
    uwsgi_temp_path $TMP/origin/uwsgi;
    scgi_temp_path $TMP/origin/scgi;
    server {
        listen 127.0.0.1:$ORIGIN;
        root $TMP/www;
    }
}
EOF

cat >"$TMP/stream/nginx.conf" <<EOF
load_module $STREAM_MODULE;
daemon off;
worker_processes auto;
worker_rlimit_nofile 20000;
pid $TMP/stream/nginx.pid;
error_log $TMP/stream/error.log error;
events { worker_connections 8192; }
stream {
    proxy_timeout 600s;
    server { listen 127.0.0.1:$STREAM_TINY; proxy_pass 127.0.0.1:$TINY; }
    server { listen 127.0.0.1:$STREAM_ORIGIN; proxy_pass 127.0.0.1:$ORIGIN; }
}
EOF

cat >"$TMP/tinyproxy.conf" <<EOF
Port $TINY
Listen 127.0.0.1
Timeout 600
MaxClients 1000
Allow 127.0.0.1
DisableViaHeader Yes
LogFile "$TMP/tinyproxy.log"
LogLevel Critical
EOF

cat >"$TMP/privoxy/config" <<EOF
confdir $TMP/privoxy
listen-address 127.0.0.1:$PRIV
forward / 127.0.0.1:$TINY
toggle 0
enable-remote-toggle 0
enable-edit-actions 0
keep-alive-timeout 600
socket-timeout 600
max-client-connections 1000
EOF

# --- start everything --------------------------------------------------------
nginx -p "$TMP/origin" -e "$TMP/origin/error.log" -c "$TMP/origin/nginx.conf" </dev/null >"$TMP/origin.out" 2>&1 &
PIDS+=($!)
wait_port "nginx origin" $! "$ORIGIN" "$TMP/origin.out"

tinyproxy -d -c "$TMP/tinyproxy.conf" </dev/null >"$TMP/tinyproxy.out" 2>&1 &
PIDS+=($!)
wait_port tinyproxy $! "$TINY" "$TMP/tinyproxy.out"

privoxy --no-daemon "$TMP/privoxy/config" </dev/null >"$TMP/privoxy.out" 2>&1 &
PIDS+=($!)
wait_port privoxy $! "$PRIV" "$TMP/privoxy.out"

nginx -p "$TMP/stream" -e "$TMP/stream/error.log" -c "$TMP/stream/nginx.conf" </dev/null >"$TMP/stream.out" 2>&1 &
PIDS+=($!)
wait_port "nginx stream" $! "$STREAM_TINY" "$TMP/stream.out"
wait_port "nginx stream" "${PIDS[-1]}" "$STREAM_ORIGIN" "$TMP/stream.out"

start_runner engine-tiny "$TINY"
ENGINE_TINY=$RUNNER_PORT
start_runner engine-origin "$ORIGIN"
ENGINE_ORIGIN=$RUNNER_PORT
# The shipped program, switches absent as after installing.
start_program program "$ORIGIN"

URL_1K=http://127.0.0.1:$ORIGIN/1k
URL_BULK=http://127.0.0.1:$ORIGIN/100m

# Labels and ports of every path measured; "direct" talks to the origin.
LABELS=(tiny engine_tiny privoxy_tiny stream_tiny direct engine_origin program_origin stream_origin)
declare -A PORT=(
  [tiny]=$TINY [engine_tiny]=$ENGINE_TINY [privoxy_tiny]=$PRIV [stream_tiny]=$STREAM_TINY
  [direct]=$ORIGIN [engine_origin]=$ENGINE_ORIGIN [program_origin]=8080 [stream_origin]=$STREAM_ORIGIN
)
declare -A NAME=(
  [tiny]="tinyproxy alone" [engine_tiny]="engine → tinyproxy" [privoxy_tiny]="privoxy → tinyproxy"
  [stream_tiny]="nginx stream → tinyproxy" [direct]="direct nginx" [engine_origin]="engine → nginx"
  [program_origin]="quillon → nginx" [stream_origin]="nginx stream → nginx"
)
THROUGH_TINY=(tiny engine_tiny privoxy_tiny stream_tiny)
THROUGH_ORIGIN=(direct engine_origin program_origin stream_origin)

# Every path must deliver the file intact before it is timed.
for label in "${LABELS[@]}"; do
  if [ "$label" = direct ]; then
    via=(--noproxy '*')
  else
    via=(-x "http://127.0.0.1:${PORT[$label]}")
  fi
  curl -sS --max-time 10 "${via[@]}" -o "$TMP/check" "$URL_1K" || die "${NAME[$label]}: request failed"
  cmp -s "$TMP/check" "$TMP/www/1k" || die "${NAME[$label]}: wrong body"
done

# --- measuring ----------------------------------------------------------------
# Proxy-form requests: the absolute URI in the request line, as a browser
# sends them to its proxy. The origin answers this form too (direct).
cat >"$TMP/proxy.lua" <<EOF
wrk.method = "GET"
wrk.path = "$URL_1K"
wrk.headers["Host"] = "127.0.0.1:$ORIGIN"

done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("BENCH %.1f %.0f %.0f %d %d %d\n",
    summary.requests / (summary.duration / 1e6),
    latency:percentile(50), latency:percentile(99),
    e.connect + e.write + e.timeout, e.status, e.read))
end
EOF

# The kernel's count of connections refused because a listener's accept
# queue was full (system-wide; nothing else here comes near a full queue).
listen_overflows() {
  awk '/^TcpExt:/ { if (!h) { for (i = 1; i <= NF; i++) if ($i == "ListenOverflows") c = i; h = 1 }
                    else print $c }' /proc/net/netstat
}

# Per key ("scenario:label"): samples "req/s/p50_ms/p99_ms" or "MB/s",
# failures (connect, write, time-out, non-2xx, a wrk or curl that failed),
# reads cut short by the peer closing, and listen queue overflows.
declare -A SAMPLES FAILED CLOSED OVERFLOWS

# wrk_once KEY LABEL CONNECTIONS [HEADER]
wrk_once() {
  local key=$1 label=$2 conns=$3 header=${4:-} out line rps p50 p99 errs status reads before
  local threads=$((conns < WRK_THREADS ? conns : WRK_THREADS))
  local args=(-t "$threads" -c "$conns" -d "${SECONDS_PER_RUN}s" --timeout 5s -s "$TMP/proxy.lua")
  [ -z "$header" ] || args+=(-H "$header")
  before=$(listen_overflows)
  out=$(timeout $((SECONDS_PER_RUN + 30)) wrk "${args[@]}" "http://127.0.0.1:${PORT[$label]}/" 2>&1) || true
  OVERFLOWS[$key]=$((${OVERFLOWS[$key]:-0} + $(listen_overflows) - before))
  line=$(grep '^BENCH ' <<<"$out" || true)
  if [ -z "$line" ]; then
    say "  wrk failed for ${NAME[$label]}: $(tail -n 2 <<<"$out")"
    FAILED[$key]=$((${FAILED[$key]:-0} + 1))
    return 0
  fi
  read -r _ rps p50 p99 errs status reads <<<"$line"
  p50=$(awk -v u="$p50" 'BEGIN { printf "%.2f", u / 1000 }')
  p99=$(awk -v u="$p99" 'BEGIN { printf "%.2f", u / 1000 }')
  SAMPLES[$key]="${SAMPLES[$key]:-} $rps/$p50/$p99"
  FAILED[$key]=$((${FAILED[$key]:-0} + errs + status))
  CLOSED[$key]=$((${CLOSED[$key]:-0} + reads))
  say "  $(printf '%-25s %-8s %7.0f req/s  p50 %7s ms  p99 %8s ms  failed %d' \
    "${NAME[$label]}" "${key%%:*}" "$rps" "$p50" "$p99" $((errs + status)))"
}

# bulk_once LABEL: one download of the big file.
bulk_once() {
  local label=$1 key=bulk:$1 via out speed size code
  if [ "$label" = direct ]; then
    via=(--noproxy '*')
  else
    via=(-x "http://127.0.0.1:${PORT[$label]}")
  fi
  out=$(curl -s --max-time 120 "${via[@]}" -o /dev/null \
    -w '%{speed_download} %{size_download} %{http_code}' "$URL_BULK" || true)
  read -r speed size code <<<"$out"
  if [ "${code:-}" != 200 ] || [ "${size:-}" != "$BULK_BYTES" ]; then
    say "  bulk through ${NAME[$label]} failed ($out)"
    FAILED[$key]=$((${FAILED[$key]:-0} + 1))
    return 0
  fi
  speed=$(awk -v b="$speed" 'BEGIN { printf "%.1f", b / 1e6 }')
  SAMPLES[$key]="${SAMPLES[$key]:-} $speed"
  say "  $(printf '%-25s %-8s %7s MB/s' "${NAME[$label]}" bulk "$speed")"
}

started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
say "origin :$ORIGIN  tinyproxy :$TINY  privoxy :$PRIV  nginx stream :$STREAM_TINY,:$STREAM_ORIGIN  engine :$ENGINE_TINY,:$ENGINE_ORIGIN"
say "$RUNS run(s) of ${SECONDS_PER_RUN} s per figure, wrk -t$WRK_THREADS"

# Each run goes round all paths, so that a noisy moment is spread over every
# path instead of landing on one of them.
for ((run = 1; run <= RUNS; run++)); do
  say "run $run/$RUNS"
  for label in "${THROUGH_TINY[@]}"; do
    wrk_once "ka50:$label" "$label" 50
    sleep 1
    wrk_once "close50:$label" "$label" 50 "Connection: close"
    sleep 1
    wrk_once "ka500:$label" "$label" 500
    sleep 1
    bulk_once "$label"
  done
  for label in "${THROUGH_ORIGIN[@]}"; do
    wrk_once "ka50:$label" "$label" 50
    sleep 1
    bulk_once "$label"
  done
  # One person browsing: one request after another, on a new connection
  # each time or on one kept alive; the paths back to back, so that they
  # meet the same moment of the machine.
  for label in "${THROUGH_ORIGIN[@]}"; do
    wrk_once "one_close:$label" "$label" 1 "Connection: close"
  done
  for label in "${THROUGH_ORIGIN[@]}"; do
    wrk_once "one_ka:$label" "$label" 1
  done
done

# Memory per held connection, on a fresh engine so that nothing the earlier
# runs left behind is counted. One request goes first, so that one-off
# set-up (the first worker threads, malloc arenas) counts as the idle state.
start_runner engine-memory "$ORIGIN"
curl -sS --max-time 10 -x "http://127.0.0.1:$RUNNER_PORT" -o /dev/null "$URL_1K" || die "engine (memory) failed"
sleep 0.5
HOLD_LINE=$(timeout 180 "$HOLDER" "$RUNNER_PORT" "127.0.0.1:$ORIGIN" /1k "$RUNNER_PID" "$HOLD") ||
  die "hold_connections failed"
say "  $HOLD_LINE"
# The same in the shipped program, also fresh.
stop_program
start_program program-memory "$ORIGIN"
curl -sS --max-time 10 -x http://127.0.0.1:8080 -o /dev/null "$URL_1K" || die "program (memory) failed"
sleep 0.5
PROGRAM_HOLD_LINE=$(timeout 180 "$HOLDER" 8080 "127.0.0.1:$ORIGIN" /1k "$PROGRAM_PID" "$HOLD") ||
  die "hold_connections failed on the program"
say "  program: $PROGRAM_HOLD_LINE"
hold_value() { sed -n "s/.*\b$1=\([0-9.-]*\).*/\1/p" <<<"${2:-$HOLD_LINE}"; }

# --- report --------------------------------------------------------------------
# median FIELD KEY: the median of one field of the samples (1 rate, 2 p50,
# 3 p99); n/a without samples.
median() {
  tr ' ' '\n' <<<"${SAMPLES[$2]:-}" | awk -F/ -v f="$1" 'NF { print $f }' | sort -g |
    awk '{ v[NR] = $1 } END {
      if (NR == 0) print "n/a"
      else if (NR % 2) print v[(NR + 1) / 2]
      else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "n/a" || b == "n/a" || b == 0) print "n/a"; else printf "%.2f", a / b }'
}
# rate KEY BASE_KEY: "median (ratio×)", in whole numbers.
rate() {
  local v b shown
  v=$(median 1 "$1") b=$(median 1 "$2")
  shown=$(awk -v v="$v" 'BEGIN { if (v == "n/a") print v; else printf "%.0f", v }')
  if [ "$1" = "$2" ]; then echo "$shown"; else echo "$shown ($(ratio "$v" "$b")×)"; fi
}
latency() { echo "$(median 2 "$1") / $(median 3 "$1")"; }
sum_of() {  # sum_of ARRAY KEY...
  local -n counts=$1
  local total=0 key
  shift
  for key in "$@"; do total=$((total + ${counts[$key]:-0})); done
  echo "$total"
}

echo
echo "### Through tinyproxy: 1 KiB GET, median of $RUNS × ${SECONDS_PER_RUN} s (× tinyproxy alone)"
echo
echo "| path | keep-alive, 50 conn. req/s | close, 50 conn. req/s | keep-alive, 500 conn. req/s | 100 MiB MB/s |"
echo "|---|---|---|---|---|"
for label in "${THROUGH_TINY[@]}"; do
  echo "| ${NAME[$label]} | $(rate "ka50:$label" ka50:tiny) | $(rate "close50:$label" close50:tiny) |" \
    "$(rate "ka500:$label" ka500:tiny) | $(rate "bulk:$label" bulk:tiny) |"
done
echo
echo "Latency p50 / p99 in ms; failed = connect, write, time-out, non-2xx and failed downloads over all runs;"
echo "closed = responses after which the proxy closed the connection; overflows = listen queue overflows (SYNs dropped)."
echo
echo "| path | keep-alive 50 | close 50 | keep-alive 500 | failed | closed | overflows |"
echo "|---|---|---|---|---|---|---|"
for label in "${THROUGH_TINY[@]}"; do
  keys=("ka50:$label" "close50:$label" "ka500:$label" "bulk:$label")
  echo "| ${NAME[$label]} | $(latency "ka50:$label") | $(latency "close50:$label") | $(latency "ka500:$label") |" \
    "$(sum_of FAILED "${keys[@]}") | $(sum_of CLOSED "${keys[@]}") | $(sum_of OVERFLOWS "${keys[@]}") |"
done
echo
echo "### The relay alone, nginx as the upstream (× direct)"
echo
echo "| path | keep-alive, 50 conn. req/s | p50 / p99 ms | 100 MiB MB/s | failed |"
echo "|---|---|---|---|---|"
for label in "${THROUGH_ORIGIN[@]}"; do
  echo "| ${NAME[$label]} | $(rate "ka50:$label" ka50:direct) | $(latency "ka50:$label") |" \
    "$(rate "bulk:$label" bulk:direct) | $(sum_of FAILED "ka50:$label" "bulk:$label") |"
done
echo
echo "### One client, nginx as the upstream (× direct)"
echo
echo "One connection after another (\`Connection: close\`), or one kept alive; p50 in ms."
echo
echo "| path | new connection per request, req/s | p50 | one kept-alive connection, req/s | p50 | failed |"
echo "|---|---|---|---|---|---|"
for label in "${THROUGH_ORIGIN[@]}"; do
  echo "| ${NAME[$label]} | $(rate "one_close:$label" one_close:direct) | $(median 2 "one_close:$label") |" \
    "$(rate "one_ka:$label" one_ka:direct) | $(median 2 "one_ka:$label") |" \
    "$(sum_of FAILED "one_close:$label" "one_ka:$label") |"
done
echo
echo "### Memory per held connection"
echo
echo "| relay | connections | held | failed | dropped while held | RSS before KiB | RSS after KiB | KiB per connection |"
echo "|---|---|---|---|---|---|---|---|"
for line in "$HOLD_LINE" "$PROGRAM_HOLD_LINE"; do
  [ "$line" = "$HOLD_LINE" ] && who=engine_runner || who=quillon
  echo "| $who | $HOLD | $(hold_value held "$line") | $(hold_value failed "$line") | $(hold_value dropped "$line") |" \
    "$(hold_value rss_before_kib "$line") | $(hold_value rss_after_kib "$line") | $(hold_value kib_per_conn "$line") |"
done

# --- targets -------------------------------------------------------------------
verdict() {  # verdict TEXT CONDITION (awk; true when met)
  if awk "BEGIN { exit !($2) }"; then echo "- met: $1"; else echo "- NOT met: $1"; fi
}
num() {  # a median as a number; -1 when missing, which fails every target
  local v
  v=$(median "$@")
  if [ "$v" = n/a ]; then echo -1; else echo "$v"; fi
}
added() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.2f", a - b }'; }

ka_e=$(num 1 ka50:engine_tiny) ka_t=$(num 1 ka50:tiny)
ka_p=$(num 1 ka50:privoxy_tiny) ka_s=$(num 1 ka50:stream_tiny)
cl_e=$(num 1 close50:engine_tiny) cl_t=$(num 1 close50:tiny)
cl_p=$(num 1 close50:privoxy_tiny) cl_s=$(num 1 close50:stream_tiny)
p50_ka_e=$(num 2 ka50:engine_tiny) p50_ka_t=$(num 2 ka50:tiny)
p50_cl_e=$(num 2 close50:engine_tiny) p50_cl_t=$(num 2 close50:tiny)
bulk_e=$(num 1 bulk:engine_origin) bulk_d=$(num 1 bulk:direct)
held=$(hold_value held) failed=$(hold_value failed) dropped=$(hold_value dropped)
per=$(hold_value kib_per_conn)
per_program=$(hold_value kib_per_conn "$PROGRAM_HOLD_LINE")
one_cl_q=$(num 1 one_close:program_origin) one_cl_e=$(num 1 one_close:engine_origin)
one_cl_d=$(num 1 one_close:direct)
one_ka_q=$(num 1 one_ka:program_origin) one_ka_e=$(num 1 one_ka:engine_origin)
one_ka_d=$(num 1 one_ka:direct)

echo
echo "### Targets"
echo
verdict "engine → tinyproxy ≥ 0.95× tinyproxy alone, keep-alive: $(ratio "$ka_e" "$ka_t")×" \
  "$ka_t > 0 && $ka_e >= 0.95 * $ka_t"
verdict "engine → tinyproxy ≥ 0.95× tinyproxy alone, close: $(ratio "$cl_e" "$cl_t")×" \
  "$cl_t > 0 && $cl_e >= 0.95 * $cl_t"
verdict "engine → tinyproxy ahead of privoxy → tinyproxy and nginx stream → tinyproxy, keep-alive" \
  "$ka_e > $ka_p && $ka_e > $ka_s"
verdict "engine → tinyproxy ahead of privoxy → tinyproxy and nginx stream → tinyproxy, close" \
  "$cl_e > $cl_p && $cl_e > $cl_s"
verdict "p50 added ≤ 1 ms, keep-alive: $(added "$p50_ka_e" "$p50_ka_t") ms" \
  "$p50_ka_e >= 0 && $p50_ka_t >= 0 && $p50_ka_e - $p50_ka_t <= 1"
verdict "p50 added ≤ 1 ms, close: $(added "$p50_cl_e" "$p50_cl_t") ms" \
  "$p50_cl_e >= 0 && $p50_cl_t >= 0 && $p50_cl_e - $p50_cl_t <= 1"
verdict "nginx as upstream, 100 MiB bulk ≥ 0.9× direct: $(ratio "$bulk_e" "$bulk_d")×" \
  "$bulk_d > 0 && $bulk_e >= 0.9 * $bulk_d"
verdict "one client, new connection per request, quillon ≥ 0.5× direct: $(ratio "$one_cl_q" "$one_cl_d")× (engine_runner $(ratio "$one_cl_e" "$one_cl_d")×)" \
  "$one_cl_d > 0 && $one_cl_q >= 0.5 * $one_cl_d"
verdict "one client kept alive, quillon ≥ 0.6× direct: $(ratio "$one_ka_q" "$one_ka_d")× (engine_runner $(ratio "$one_ka_e" "$one_ka_d")×)" \
  "$one_ka_d > 0 && $one_ka_q >= 0.6 * $one_ka_d"
verdict "engine → tinyproxy ≥ privoxy → tinyproxy, keep-alive and close: $(ratio "$ka_e" "$ka_p")×, $(ratio "$cl_e" "$cl_p")×" \
  "$ka_p > 0 && $cl_p > 0 && $ka_e >= $ka_p && $cl_e >= $cl_p"
verdict "≤ 64 KiB per held connection: engine_runner ${per:-n/a} KiB, quillon ${per_program:-n/a} KiB" \
  "${per:-1e9} <= 64 && ${per_program:-1e9} <= 64"
verdict "$HOLD held connections, 0 failures: held ${held:-0}, failed ${failed:-?}, dropped ${dropped:-?}" \
  "${held:-0} == $HOLD && ${failed:-1} == 0 && ${dropped:-1} == 0"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(($(date +%s) - started)) s of measuring," \
  "load average $load_before at the start"
