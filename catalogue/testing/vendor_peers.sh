#!/usr/bin/env bash
# Real peers for the catalogue's tests, on both builds (the Windows build's
# tests reach them from Wine over loopback): tinyproxy as the proxy under test
# and nginx serving vendor/. "start DIR VENDOR" writes DIR/tinyproxy.port and
# DIR/nginx.port; "stop DIR" stops both by the pids it kept.
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
# waits (bounded) until it listens.
start_peer() {
  local name=$1 port=$2
  shift 2
  "$@" >"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
  for _ in $(seq 1 100); do
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
  local pid
  pid=$(cat "$pidfile")
  kill "$pid" 2>/dev/null
  for _ in $(seq 1 50); do
    running "$pid" || break
    sleep 0.05
  done
  running "$pid" && kill -9 "$pid" 2>/dev/null
  rm -f "$pidfile" "$dir/$1.port"
}

case $command in
start)
  vendor=$3
  # Peers of an earlier run that was never stopped go first.
  stop_peer tinyproxy
  stop_peer nginx
  rm -rf "$dir"
  mkdir -p "$dir"
  for attempt in 1 2 3; do
    port=$(free_port) || exit 1
    printf 'Port %s\nListen 127.0.0.1\nTimeout 60\nLogLevel Critical\nAllow 127.0.0.1\n' \
      "$port" >"$dir/tinyproxy.conf"
    start_peer tinyproxy "$port" "$(command -v tinyproxy || echo /usr/bin/tinyproxy)" -d -c "$dir/tinyproxy.conf" && break
    stop_peer tinyproxy
    [ "$attempt" -lt 3 ] || exit 1
  done
  for attempt in 1 2 3; do
    port=$(free_port) || exit 1
    cat >"$dir/nginx.conf" <<CONF
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
  }
}
CONF
    start_peer nginx "$port" "$(command -v nginx || echo /usr/sbin/nginx)" -p "$dir" -c "$dir/nginx.conf" && break
    stop_peer nginx
    [ "$attempt" -lt 3 ] || { stop_peer tinyproxy; exit 1; }
  done
  ;;
stop)
  stop_peer tinyproxy
  stop_peer nginx
  ;;
*)
  echo "usage: $0 start DIR VENDOR | stop DIR" >&2
  exit 2
  ;;
esac
