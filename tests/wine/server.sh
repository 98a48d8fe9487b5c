# The update-server controller: 127.0.0.1:8081 is what the programs under test talk to,
# 127.0.0.1:8082 is where tests choose what 8081 does (see README.md). Sourced by wine-env.sh.

SERVER_STATE="$HARNESS_DIR/server"
SERVER_PYTHON=/usr/bin/python3

# server_start [LIFETIME_SECONDS]: starts the controller with nothing listening on 8081.
# It stops by itself after LIFETIME_SECONDS (default 600).
server_start() {
  mkdir -p "$SERVER_STATE"
  server_stop
  "$SERVER_PYTHON" "$HARNESS_SCRIPTS/scenario_server.py" serve \
    --state "$SERVER_STATE" --nginx-script "$HARNESS_SCRIPTS/../../deploy/nginx/serve.sh" \
    --varnish-script "$HARNESS_SCRIPTS/../../deploy/varnish/serve.sh" \
    --lifetime "${1:-600}" >"$SERVER_STATE/controller.log" 2>&1 &
  echo $! >"$SERVER_STATE/controller.pid"
  # Another test run on this machine may hold the ports; the controller waits for them.
  local pid i
  pid=$(cat "$SERVER_STATE/controller.pid")
  for i in $(seq 1000); do
    [ "$(server_ctl ping 2>/dev/null)" = "ok $pid" ] && return 0
    process_alive "$pid" || break
    sleep 0.05
  done
  echo "server_start: the controller did not come up:" >&2
  cat "$SERVER_STATE/controller.log" >&2
  return 1
}

# server_ctl COMMAND [KEY=VALUE...]: one control request; prints the answer. Examples:
#   server_ctl mode name=nginx root=/path/to/tree
#   server_ctl rule path=/update_go/update.htm status=404 body='<html>gone</html>'
#   server_ctl requests
server_ctl() {
  "$SERVER_PYTHON" "$HARNESS_SCRIPTS/scenario_server.py" ctl "$@"
}

# A process that has exited but is not yet reaped (init may take a while) counts as gone.
process_alive() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) && [ -n "$state" ] && [ "$state" != Z ]
}

# server_stop: stops the controller and whatever it had listening (nginx included).
server_stop() {
  local pidfile="$SERVER_STATE/controller.pid" pid
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  if process_alive "$pid"; then
    # Only our own controller is asked to quit: port 8082 may still belong to another run.
    if [ "$(server_ctl ping 2>/dev/null)" = "ok $pid" ]; then
      server_ctl quit >/dev/null 2>&1 || true
    else
      kill "$pid" 2>/dev/null || true
    fi
    local i
    for i in $(seq 100); do process_alive "$pid" || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
  "$HARNESS_SCRIPTS/../../deploy/nginx/serve.sh" stop "$SERVER_STATE/nginx"
}
