#!/usr/bin/env bash
# Runs nginx with merovast.conf on a folder of ours, away from the system's nginx:
#   serve.sh start ROOT STATE_DIR [PORT]   serves ROOT on 127.0.0.1:PORT (default 8081)
#   serve.sh stop STATE_DIR
# The http block around it says what matters of Debian's nginx.conf (gzip on, mime.types), so
# the server block is tried as it will run. STATE_DIR/access.log gets one line per request:
# request line, status, User-Agent, tab-separated; with SERVE_LOG_BYTES=1 a fourth field, the
# body bytes sent ($body_bytes_sent), follows (the benchmark counts what an update cost); with
# SERVE_LOG_RANGE=1 then the Range header asked for ($http_range, "-" when none).
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")

start() {
  local root=$1 state port=${3:-8081}
  [ -d "$root" ] || { echo "serve: no folder $root to serve" >&2; return 1; }
  state=$(realpath -m "$2")
  local fields='$request\t$status\t$http_user_agent'
  if [ "${SERVE_LOG_BYTES:-0}" = 1 ]; then fields+='\t$body_bytes_sent'; fi
  if [ "${SERVE_LOG_RANGE:-0}" = 1 ]; then fields+='\t$http_range'; fi
  stop "$state"
  mkdir -p "$state/tmp"
  rm -f "$state/error.log"
  : >"$state/access.log"
  "$here/render.sh" "$root" "$port" >"$state/merovast.conf"
  {
    # As root the workers would otherwise be nobody, who cannot read a tree made by root.
    [ "$(id -u)" -eq 0 ] && echo "user root;"
    cat <<CONF
worker_processes 1;
pid "$state/nginx.pid";
error_log "$state/error.log" warn;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  gzip on;
  sendfile on;
  server_tokens off;
  log_format requests '$fields';
  access_log "$state/access.log" requests;
  client_body_temp_path "$state/tmp/body";
  proxy_temp_path "$state/tmp/proxy";
  fastcgi_temp_path "$state/tmp/fastcgi";
  uwsgi_temp_path "$state/tmp/uwsgi";
  scgi_temp_path "$state/tmp/scgi";
  include "$state/merovast.conf";
}
CONF
  } >"$state/nginx.conf"
  # nginx is listening once this returns: it binds before it detaches.
  nginx -p "$state" -e "$state/error.log" -c "$state/nginx.conf"
}

stop() {
  local state=$1 pid i
  [ -f "$state/nginx.pid" ] || return 0
  pid=$(cat "$state/nginx.pid")
  if kill -TERM "$pid" 2>/dev/null; then
    # nginx removes its pid file as it exits.
    for i in $(seq 200); do [ -f "$state/nginx.pid" ] || return 0; sleep 0.02; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$state/nginx.pid"
}

case "${1:-}" in
  start) [ $# -ge 3 ] && [ $# -le 4 ] || { echo "usage: $0 start ROOT STATE_DIR [PORT]" >&2; exit 2; }; start "$2" "$3" "${4:-}" ;;
  stop) [ $# -eq 2 ] || { echo "usage: $0 stop STATE_DIR" >&2; exit 2; }; stop "$(realpath -m "$2")" ;;
  *) echo "usage: $0 start ROOT STATE_DIR [PORT] | stop STATE_DIR" >&2; exit 2 ;;
esac
