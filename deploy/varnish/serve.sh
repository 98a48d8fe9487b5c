#!/usr/bin/env bash
# Runs Varnish with merovast.vcl in front of an origin, away from the system's Varnish:
#   serve.sh start ORIGIN STATE_DIR [ADDRESS]   ORIGIN as render.sh takes it; ADDRESS is
#                                              HOST:PORT or PORT (default 127.0.0.1:8081)
#   serve.sh stop STATE_DIR
# Everything goes to STATE_DIR: the rendered merovast.vcl, varnishd's working folder (work/) and
# access.log, one line per request a client made: request line, status, User-Agent, Varnish's
# handling (hit, miss, pass, synth) and the Range header ("-" when none), tab-separated.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")

start() {
  local origin=$1 state address=${3:-127.0.0.1:8081} i
  state=$(realpath -m "$2")
  case "$address" in *:*) ;; *) address=127.0.0.1:$address ;; esac
  stop "$state"
  mkdir -p "$state"
  rm -rf "$state/work"
  : >"$state/access.log"
  "$here/render.sh" "$origin" >"$state/merovast.vcl"
  # -j none: everything runs as the caller, who owns STATE_DIR (the jail's users would not).
  # The default grace would answer from an expired object while it fetches again.
  varnishd -a "$address" -f "$state/merovast.vcl" -n "$state/work" -s malloc,256m -j none \
    -P "$state/varnishd.pid" -p default_grace=0 >"$state/varnishd.log" 2>&1 ||
    { echo "serve: varnishd did not start:" >&2; cat "$state/varnishd.log" >&2; return 1; }
  # varnishd returns once its child runs; the log reader attaches to its shared memory.
  varnishncsa -n "$state/work" -D -P "$state/varnishncsa.pid" -w "$state/access.log" \
    -F '%m %U %H	%s	%{User-Agent}i	%{Varnish:handling}x	%{Range}i'
  for i in $(seq 200); do
    (exec 3<>"/dev/tcp/${address%:*}/${address##*:}") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "serve: varnishd does not answer on $address" >&2
  return 1
}

stop() {
  local state=$1 name pid i
  for name in varnishncsa varnishd; do
    [ -f "$state/$name.pid" ] || continue
    pid=$(cat "$state/$name.pid")
    if kill -TERM "$pid" 2>/dev/null; then
      for i in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
      kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$state/$name.pid"
  done
}

case "${1:-}" in
  start) [ $# -ge 3 ] && [ $# -le 4 ] || { echo "usage: $0 start ORIGIN STATE_DIR [ADDRESS]" >&2; exit 2; }; start "$2" "$3" "${4:-}" ;;
  stop) [ $# -eq 2 ] || { echo "usage: $0 stop STATE_DIR" >&2; exit 2; }; stop "$(realpath -m "$2")" ;;
  *) echo "usage: $0 start ORIGIN STATE_DIR [ADDRESS] | stop STATE_DIR" >&2; exit 2 ;;
esac
