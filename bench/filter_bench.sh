#!/usr/bin/env bash
# Filtered HTML through the engine against privoxy with the same seven
# substitutions, side by side in one run on loopback; plus the engine with
# the filter off, which should match the plain relay.
#
#   bench/filter_bench.sh                  3 runs of 5 s per figure
#   BENCH_QUICK=1 bench/filter_bench.sh    1 run of 2 s
#
# Also read: BENCH_BUILD_DIR (default: build/), BENCH_RUNS, BENCH_SECONDS.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=bench/common.sh
source "$ROOT/bench/common.sh"

CONNECTIONS=10

for tool in nginx privoxy wrk curl cmake timeout; do
  command -v "$tool" >/dev/null || die "$tool is missing; run scripts/setup.sh"
done
[ -f "$BUILD/build.ninja" ] ||
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target engine_runner hold_connections quillon quillon-reg >/dev/null ||
  die "build failed"
RUNNER=$BUILD/bench/engine_runner
HOLDER=$BUILD/bench/hold_connections
PROGRAM=$BUILD/quillon
REG=$BUILD/quillon-reg
HELD=32

for var in ORIGIN PRIV; do
  pick_port "$var"
done
mkdir -p "$TMP/www" "$TMP/origin" "$TMP/privoxy"

# A 1 MiB page with plenty for every rule to do.
block='<p>Some text of the page, with a <a href="/x">link</a>.</p>
<script>var n = 1; if (n) { window.open("ad.html"); }</script>
<object data="movie.swf" width="10"></object>
<div class="c"><span>more text to filter through</span></div>
'
: >"$TMP/www/page.html"
while [ "$(stat -c %s "$TMP/www/page.html")" -lt $((1024 * 1024)) ]; do
  for _ in $(seq 64); do printf '%s' "$block"; done >>"$TMP/www/page.html"
done
chmod -R a+rX "$TMP/www"

cat >"$TMP/origin/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $TMP/origin/nginx.pid;
error_log $TMP/origin/error.log error;
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_requests 100000000;
    types { text/html html; }
    client_body_temp_path $TMP/origin/body;
    proxy_temp_path $TMP/origin/proxy;
    fastcgi_temp_path $TMP/origin/fastcgi;
    uwsgi_temp_path $TMP/origin/uwsgi;
    scgi_temp_path $TMP/origin/scgi;
    server { listen 127.0.0.1:$ORIGIN; root $TMP/www; }
}
EOF

cat >"$TMP/privoxy/quillon.filter" <<'EOF'
FILTER: quillon Neutralise scripts, objects and pop-up calls
s@<script@<noscript@g
s@</script>@</noscript> @g
s@<object@<noobj @g
s@</object>@</noobj> @g
s@window\.open@//ndow.open@g
EOF
printf '{+filter{quillon}}\n/\n' >"$TMP/privoxy/quillon.action"
cat >"$TMP/privoxy/config" <<EOF
confdir $TMP/privoxy
actionsfile quillon.action
filterfile quillon.filter
listen-address 127.0.0.1:$PRIV
toggle 1
enable-remote-toggle 0
enable-edit-actions 0
buffer-limit 8192
keep-alive-timeout 600
socket-timeout 600
EOF

nginx -p "$TMP/origin" -e "$TMP/origin/error.log" -c "$TMP/origin/nginx.conf" </dev/null >"$TMP/origin.out" 2>&1 &
PIDS+=($!)
wait_port "nginx origin" $! "$ORIGIN" "$TMP/origin.out"
privoxy --no-daemon "$TMP/privoxy/config" </dev/null >"$TMP/privoxy.out" 2>&1 &
PIDS+=($!)
PRIVOXY_PID=$!
wait_port privoxy $! "$PRIV" "$TMP/privoxy.out"
start_runner engine-filter "$ORIGIN" --filter
FILTERED=$RUNNER_PORT
ENGINE_PID=$RUNNER_PID
start_runner engine-plain "$ORIGIN"
PLAIN=$RUNNER_PORT
# The shipped program with every switch stored on.
start_program program "$ORIGIN" EnableJS=REG_DWORD=1 EnableActiveX=REG_DWORD=1 BlockPopups=REG_DWORD=1

URL=http://127.0.0.1:$ORIGIN/page.html
declare -A PORT=([engine]=$FILTERED [program]=8080 [privoxy]=$PRIV [plain]=$PLAIN [direct]=$ORIGIN)
declare -A NAME=([engine]="engine, filter on" [program]="quillon, filter on"
  [privoxy]="privoxy, same filter" [plain]="engine, filter off" [direct]="nginx direct")
declare -A PID_OF=([engine]=$ENGINE_PID [program]=$PROGRAM_PID [privoxy]=$PRIVOXY_PID)
LABELS=(engine program privoxy plain direct)

# Both filters must give the same page, or the race means nothing.
for label in engine program privoxy; do
  curl -sS --max-time 20 -x "127.0.0.1:${PORT[$label]}" -o "$TMP/$label.html" "$URL"
done
cmp -s "$TMP/engine.html" "$TMP/privoxy.html" || die "the engine and privoxy filtered the page differently"
cmp -s "$TMP/program.html" "$TMP/privoxy.html" || die "quillon and privoxy filtered the page differently"
cmp -s "$TMP/engine.html" "$TMP/www/page.html" && die "the engine did not filter the page"

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
declare -A IDLE_RSS
for label in engine program; do IDLE_RSS[$label]=$(rss_kib "${PID_OF[$label]}"); done

cat >"$TMP/proxy.lua" <<EOF
wrk.method = "GET"
wrk.path = "$URL"
wrk.headers["Host"] = "127.0.0.1:$ORIGIN"
EOF

declare -A RESULTS CPU_MS_PER_MIB
page_bytes=$(stat -c %s "$TMP/www/page.html")
ticks_per_s=$(getconf CLK_TCK)
for ((run = 1; run <= RUNS; run++)); do
  for label in "${LABELS[@]}"; do
    script=(-s "$TMP/proxy.lua")
    [ "$label" = direct ] && script=()
    pid=${PID_OF[$label]:-}
    [ -z "$pid" ] || ticks=$(cpu_ticks "$pid")
    out=$(timeout $((SECONDS_PER_RUN + 30)) wrk -t 2 -c "$CONNECTIONS" -d "${SECONDS_PER_RUN}s" \
      --timeout 10s "${script[@]}" "http://127.0.0.1:${PORT[$label]}/page.html" 2>&1) || true
    rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
    bad=$(awk '/Non-2xx|Socket errors/ {print}' <<<"$out")
    [ -n "$rps" ] || die "wrk failed for ${NAME[$label]}: $out"
    [ -z "$bad" ] || say "  ${NAME[$label]}: $bad"
    if [ -n "$pid" ]; then
      # CPU of the filtering process per MiB filtered.
      pages=$(awk '/requests in/ {print $1}' <<<"$out")
      cpu=$(awk -v t=$(($(cpu_ticks "$pid") - ticks)) -v hz="$ticks_per_s" -v n="$pages" -v b="$page_bytes" \
        'BEGIN { if (n > 0) printf "%.2f", (t * 1000 / hz) / (n * b / 1048576); else print "n/a" }')
      CPU_MS_PER_MIB[$label]="${CPU_MS_PER_MIB[$label]:-} $cpu"
      say "run $run: ${NAME[$label]}: $rps pages/s, $cpu ms CPU per MiB"
    else
      say "run $run: ${NAME[$label]}: $rps pages/s"
    fi
    RESULTS[$label]="${RESULTS[$label]:-} $rps"
  done
done

# What a filtering connection holds: connections that read the head of the
# page and then stall, so that each stops in the middle of the body; then
# the memory once they are gone, and after all the load, against idle.
declare -A HOLD_LINE AFTER_RSS
for label in engine program; do
  HOLD_LINE[$label]=$(timeout 120 "$HOLDER" "${PORT[$label]}" "127.0.0.1:$ORIGIN" /page.html \
    "${PID_OF[$label]}" "$HELD" stall) || die "hold_connections failed for ${NAME[$label]}"
  say "  ${NAME[$label]}: ${HOLD_LINE[$label]}"
  AFTER_RSS[$label]=$(rss_kib "${PID_OF[$label]}")
done
hold_value() { sed -n "s/.*\b$1=\([0-9.-]*\).*/\1/p" <<<"$2"; }

median() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
page_mib=$(awk -v b="$(stat -c %s "$TMP/www/page.html")" 'BEGIN {printf "%.2f", b / 1048576}')
echo "| path ($page_mib MiB page, $CONNECTIONS connections) | pages/s | MiB/s | × privoxy | ms CPU per MiB |"
echo "|---|---|---|---|---|"
privoxy_rps=$(median "${RESULTS[privoxy]}")
for label in "${LABELS[@]}"; do
  m=$(median "${RESULTS[$label]}")
  cpu=n/a
  [ -z "${CPU_MS_PER_MIB[$label]:-}" ] || cpu=$(median "${CPU_MS_PER_MIB[$label]}")
  awk -v n="${NAME[$label]}" -v m="$m" -v p="$privoxy_rps" -v s="$page_mib" -v c="$cpu" \
    'BEGIN {printf "| %s | %.1f | %.1f | %.2f× | %s |\n", n, m, m * s, m / p, c}'
done
echo
echo "| path | $HELD connections stalled mid-page: KiB each | RSS idle KiB | once they are gone | after all the load |"
echo "|---|---|---|---|---|"
for label in engine program; do
  line=${HOLD_LINE[$label]}
  echo "| ${NAME[$label]} | $(hold_value kib_per_conn "$line") | ${IDLE_RSS[$label]} |" \
    "$(hold_value rss_released_kib "$line") | ${AFTER_RSS[$label]} |"
done

verdict() { if awk "BEGIN { exit !($2) }"; then echo "- met: $1"; else echo "- NOT met: $1"; fi; }
e=$(median "${RESULTS[engine]}") q=$(median "${RESULTS[program]}")
cpu_e=$(median "${CPU_MS_PER_MIB[engine]}") cpu_q=$(median "${CPU_MS_PER_MIB[program]}")
per_e=$(hold_value kib_per_conn "${HOLD_LINE[engine]}") per_q=$(hold_value kib_per_conn "${HOLD_LINE[program]}")
echo
verdict "filtered HTML ≥ 3× privoxy's filter: engine $(awk -v a="$e" -v b="$privoxy_rps" 'BEGIN{printf "%.2f", a/b}')×, quillon $(awk -v a="$q" -v b="$privoxy_rps" 'BEGIN{printf "%.2f", a/b}')×" \
  "$e >= 3 * $privoxy_rps && $q >= 3 * $privoxy_rps"
verdict "≤ 1.5 ms CPU per MiB filtered: engine $cpu_e, quillon $cpu_q" "$cpu_e <= 1.5 && $cpu_q <= 1.5"
verdict "≤ 64 KiB per filtering connection: engine $per_e, quillon $per_q" "$per_e <= 64 && $per_q <= 64"
