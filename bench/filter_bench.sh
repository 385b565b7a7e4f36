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
cmake --build "$BUILD" --target engine_runner >/dev/null || die "build failed"
RUNNER=$BUILD/bench/engine_runner

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
wait_port privoxy $! "$PRIV" "$TMP/privoxy.out"
start_runner engine-filter "$ORIGIN" --filter
FILTERED=$RUNNER_PORT
start_runner engine-plain "$ORIGIN"
PLAIN=$RUNNER_PORT

URL=http://127.0.0.1:$ORIGIN/page.html
declare -A PORT=([engine]=$FILTERED [privoxy]=$PRIV [plain]=$PLAIN [direct]=$ORIGIN)
declare -A NAME=([engine]="engine, filter on" [privoxy]="privoxy, same filter"
  [plain]="engine, filter off" [direct]="nginx direct")
LABELS=(engine privoxy plain direct)

# Both filters must give the same page, or the race means nothing.
curl -sS --max-time 20 -x "127.0.0.1:$FILTERED" -o "$TMP/engine.html" "$URL"
curl -sS --max-time 20 -x "127.0.0.1:$PRIV" -o "$TMP/privoxy.html" "$URL"
cmp -s "$TMP/engine.html" "$TMP/privoxy.html" || die "the engine and privoxy filtered the page differently"
cmp -s "$TMP/engine.html" "$TMP/www/page.html" && die "the engine did not filter the page"

cat >"$TMP/proxy.lua" <<EOF
wrk.method = "GET"
wrk.path = "$URL"
wrk.headers["Host"] = "127.0.0.1:$ORIGIN"
EOF

declare -A RESULTS
for ((run = 1; run <= RUNS; run++)); do
  for label in "${LABELS[@]}"; do
    script=(-s "$TMP/proxy.lua")
    [ "$label" = direct ] && script=()
    out=$(timeout $((SECONDS_PER_RUN + 30)) wrk -t 2 -c "$CONNECTIONS" -d "${SECONDS_PER_RUN}s" \
      --timeout 10s "${script[@]}" "http://127.0.0.1:${PORT[$label]}/page.html" 2>&1) || true
    rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
    bad=$(awk '/Non-2xx|Socket errors/ {print}' <<<"$out")
    [ -n "$rps" ] || die "wrk failed for ${NAME[$label]}: $out"
    [ -z "$bad" ] || say "  ${NAME[$label]}: $bad"
    say "run $run: ${NAME[$label]}: $rps pages/s"
    RESULTS[$label]="${RESULTS[$label]:-} $rps"
  done
done

median() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
page_mib=$(awk -v b="$(stat -c %s "$TMP/www/page.html")" 'BEGIN {printf "%.2f", b / 1048576}')
echo "| path ($page_mib MiB page, $CONNECTIONS connections) | pages/s | MiB/s | × privoxy |"
echo "|---|---|---|---|"
privoxy_rps=$(median "${RESULTS[privoxy]}")
for label in "${LABELS[@]}"; do
  m=$(median "${RESULTS[$label]}")
  awk -v n="${NAME[$label]}" -v m="$m" -v p="$privoxy_rps" -v s="$page_mib" \
    'BEGIN {printf "| %s | %.1f | %.1f | %.2f× |\n", n, m, m * s, m / p}'
done
