#!/usr/bin/env bash
# Real peers for the catalogue's tests, on both builds (the Windows build's
# tests reach them from Wine over loopback): tinyproxy as the proxy under test
# and nginx serving vendor/ and the judge (Debian's echo module answers it
# with the requester's address and the request's head as it came). For the
# list check, three more tinyproxies that leave from addresses of their own,
# so that the judge tells them from the client (127.0.0.1):
#   transparent  from 127.0.0.2, names its client (X-Tinyproxy)
#   anonymous    from 127.0.0.3, adds Via, refuses every CONNECT
#   elite        from 127.0.0.4, adds nothing
# "start DIR VENDOR" writes DIR/NAME.port for tinyproxy, nginx and these;
# "stop DIR" stops them all by the pids it kept.
set -u

command=$1
dir=$2

listening() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# A port nothing listens on right now, from a range the system's ephemeral
# ports do not use.
free_port() {
  local port
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 10000))
    listening "$port" || { echo "$port"; return 0; }
  done
  return 1
}

# start NAME PORT COMMAND...: runs it in the background, keeps its pid, and
# waits (30 s at most: a start may take seconds on a busy machine) until it
# listens.
start_peer() {
  local name=$1 port=$2 until=$((SECONDS + 30))
  shift 2
  "$@" >"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
  while ((SECONDS < until)); do
    if listening "$port"; then
      echo "$port" >"$dir/$name.port"
      return 0
    fi
    kill -0 "$(cat "$dir/$name.pid")" 2>/dev/null || break
    sleep 0.05
  done
  return 1
}

# Alive and not yet a zombie waiting for whoever reaps orphans.
running() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

stop_peer() {
  local pidfile="$dir/$1.pid"
  [ -f "$pidfile" ] || return 0
  local pid until=$((SECONDS + 10))
  pid=$(cat "$pidfile")
  kill "$pid" 2>/dev/null
  while ((SECONDS < until)); do
    running "$pid" || break
    sleep 0.05
  done
  running "$pid" && kill -9 "$pid" 2>/dev/null
  rm -f "$pidfile" "$dir/$1.port"
}

stop_all() {
  local name
  for name in tinyproxy nginx transparent anonymous elite; do
    stop_peer "$name"
  done
}

# start_tinyproxy NAME EXTRA: a tinyproxy on a free port for clients on
# 127.0.0.1, with the configuration lines EXTRA (printf's escapes).
start_tinyproxy() {
  local name=$1 extra=$2 attempt port
  for attempt in 1 2 3; do
    port=$(free_port) || return 1
    printf "Port %s\\nListen 127.0.0.1\\nTimeout 60\\nLogLevel Critical\\nAllow 127.0.0.1\\n$extra" \
      "$port" >"$dir/$name.conf"
    start_peer "$name" "$port" "$(command -v tinyproxy || echo /usr/bin/tinyproxy)" -d -c "$dir/$name.conf" && return 0
    stop_peer "$name"
  done
  return 1
}

case $command in
start)
  vendor=$3
  # Peers of an earlier run that was never stopped go first.
  stop_all
  rm -rf "$dir"
  mkdir -p "$dir"
  start_tinyproxy tinyproxy '' || exit 1
  for attempt in 1 2 3; do
    port=$(free_port) || exit 1
    cat >"$dir/nginx.conf" <<CONF
load_module /usr/lib/nginx/modules/ngx_http_echo_module.so;
daemon off;
master_process off;
worker_processes 1;
pid $dir/nginx.pid.own;
error_log $dir/nginx.error.log;
events { worker_connections 64; }
http {
  access_log $dir/access.log;
  client_body_temp_path $dir/body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $vendor;
    location = /licensing/ProxyGenerator/judge {
      default_type text/plain;
      echo "REMOTE_ADDR: \$remote_addr";
      echo -n \$echo_client_request_headers;
    }
  }
}
CONF
    start_peer nginx "$port" "$(command -v nginx || echo /usr/sbin/nginx)" -p "$dir" -c "$dir/nginx.conf" && break
    stop_peer nginx
    [ "$attempt" -lt 3 ] || { stop_all; exit 1; }
  done
  start_tinyproxy transparent 'Bind 127.0.0.2\nXTinyproxy Yes\n' &&
    start_tinyproxy anonymous 'Bind 127.0.0.3\nConnectPort 0\n' &&
    start_tinyproxy elite 'Bind 127.0.0.4\nDisableViaHeader Yes\n' || { stop_all; exit 1; }
  ;;
stop)
  stop_all
  ;;
*)
  echo "usage: $0 start DIR VENDOR | stop DIR" >&2
  exit 2
  ;;
esac
