#!/usr/bin/env bash
# Debian's nginx serving one folder on 127.0.0.1, with every file of its own in STATE_DIR:
#   nginx-serve.sh start ROOT STATE_DIR [PORT]   (PORT defaults to 8081)
#   nginx-serve.sh stop STATE_DIR
# STATE_DIR/access.log gets one line per request: request line, status, User-Agent, tab-separated.
set -euo pipefail

start() {
  local root state port
  [ -d "$1" ] || { echo "nginx-serve: no folder $1 to serve" >&2; return 1; }
  root=$(realpath "$1")
  state=$(realpath -m "$2")
  port=${3:-8081}
  stop "$state"
  mkdir -p "$state/tmp"
  rm -f "$state/access.log" "$state/error.log"
  : >"$state/access.log"
  {
    # Workers drop to nobody otherwise, who cannot read a tree made by root under /root.
    [ "$(id -u)" -eq 0 ] && echo "user root;"
    cat <<EOF
worker_processes 1;
pid "$state/nginx.pid";
error_log "$state/error.log" warn;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  types { }
  server_tokens off;
  log_format harness '\$request\t\$status\t\$http_user_agent';
  access_log "$state/access.log" harness;
  client_body_temp_path "$state/tmp/body";
  proxy_temp_path "$state/tmp/proxy";
  fastcgi_temp_path "$state/tmp/fastcgi";
  uwsgi_temp_path "$state/tmp/uwsgi";
  scgi_temp_path "$state/tmp/scgi";
  server {
    listen 127.0.0.1:$port;
    root "$root";
  }
}
EOF
  } >"$state/nginx.conf"
  # nginx binds its socket before it detaches, so it is listening once this returns.
  nginx -p "$state" -e "$state/error.log" -c "$state/nginx.conf"
}

stop() {
  local state=$1 pid i
  [ -f "$state/nginx.pid" ] || return 0
  pid=$(cat "$state/nginx.pid")
  if kill -TERM "$pid" 2>/dev/null; then
    # nginx removes its pid file as it exits; the process itself may linger as a zombie
    # until init reaps it.
    for i in $(seq 200); do [ -f "$state/nginx.pid" ] || return 0; sleep 0.02; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$state/nginx.pid"
}

case "${1:-}" in
  start) [ $# -ge 3 ] || { echo "usage: $0 start ROOT STATE_DIR [PORT]" >&2; exit 2; }; start "$2" "$3" "${4:-}" ;;
  stop) [ $# -eq 2 ] || { echo "usage: $0 stop STATE_DIR" >&2; exit 2; }; stop "$2" ;;
  *) echo "usage: $0 start ROOT STATE_DIR [PORT] | stop STATE_DIR" >&2; exit 2 ;;
esac
