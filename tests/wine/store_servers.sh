#!/usr/bin/env bash
# An object store as publishers rent one, for the tests: OpenStack Swift (Debian's packages) with
# one replica on loopback, tempauth and memcached, every file of it under STATE_DIR:
#   store_servers.sh start STATE_DIR   starts it on free ports; prints the container's URL
#   store_servers.sh stop STATE_DIR
# The container "releases" of the account AUTH_merovast is readable by anyone (a CDN's origin
# needs no token); writing takes the tempauth user merovast:pusher. STATE_DIR/store.env says
#   STORE_ORIGIN    http://127.0.0.1:PORT/v1/AUTH_merovast/releases (what a cache in front maps onto)
#   STORE_REMOTE    store:releases, the rclone remote of the container
#   RCLONE_CONFIG   STATE_DIR/rclone.conf, which defines the remote "store" (swift backend)
# STATE_DIR/log/proxy.log gets one line per request that reached Swift's proxy (proxy-logging),
# among the servers' other messages.
set -euo pipefail

KEY=merovast-test-key
CONTAINER=releases

ports() {  # ports N: N free ports of 127.0.0.1, held together so that they differ
  /usr/bin/python3 - "$1" <<'PY'
import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held:
    s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))
PY
}

# Swift keeps each object's metadata in user extended attributes of its file: without them every
# PUT fails with a 507 that says nothing of the cause.
check_xattr() {
  /usr/bin/python3 - "$1" <<'PY' || return 1
import os, sys
probe = os.path.join(sys.argv[1], ".xattr-probe")
open(probe, "w").close()
try:
    os.setxattr(probe, "user.merovast", b"1")
except OSError as error:
    sys.exit(f"store_servers: the file system of {sys.argv[1]} does not take user extended "
             f"attributes ({error.strerror}), which Swift needs: use a folder on ext4 or XFS, or "
             f"mount with user_xattr")
finally:
    os.remove(probe)
PY
}

write_configs() {  # write_configs STATE ACCOUNT CONTAINER OBJECT PROXY MEMCACHED
  local state=$1 user
  user=$(id -un)
  cat >"$state/etc/swift.conf" <<EOF
[swift-hash]
swift_hash_path_suffix = merovast-test
[storage-policy:0]
name = Policy-0
default = yes
EOF
  local kind port
  for kind in account container object; do
    case $kind in account) port=$2 ;; container) port=$3 ;; object) port=$4 ;; esac
    # workers = 0 serves in the one process started here, so that its pid is the server's.
    cat >"$state/etc/$kind-server.conf" <<EOF
[DEFAULT]
bind_ip = 127.0.0.1
bind_port = $port
workers = 0
user = $user
swift_dir = $state/etc
devices = $state/srv
mount_check = false
log_address = $state/no-syslog
[pipeline:main]
pipeline = $kind-server
[app:$kind-server]
use = egg:swift#$kind
EOF
  done
  cat >"$state/etc/proxy-server.conf" <<EOF
[DEFAULT]
bind_ip = 127.0.0.1
bind_port = $5
workers = 0
user = $user
swift_dir = $state/etc
log_address = $state/no-syslog
[pipeline:main]
pipeline = catch_errors gatekeeper healthcheck proxy-logging cache listing_formats tempauth copy dlo slo versioned_writes proxy-logging proxy-server
[app:proxy-server]
use = egg:swift#proxy
account_autocreate = true
[filter:tempauth]
use = egg:swift#tempauth
user_merovast_pusher = $KEY .admin
[filter:cache]
use = egg:swift#memcache
memcache_servers = 127.0.0.1:$6
EOF
  local filter
  for filter in catch_errors gatekeeper healthcheck proxy-logging listing_formats copy dlo versioned_writes slo; do
    printf '[filter:%s]\nuse = egg:swift#%s\n' "$filter" "${filter//-/_}"
  done >>"$state/etc/proxy-server.conf"
  cat >"$state/rclone.conf" <<EOF
[store]
type = swift
user = merovast:pusher
key = $KEY
auth = http://127.0.0.1:$5/auth/v1.0
EOF
}

wait_for_port() {  # wait_for_port PORT PID NAME
  local i
  for i in $(seq 600); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    kill -0 "$2" 2>/dev/null || break
    sleep 0.05
  done
  echo "store_servers: $3 did not start; its log:" >&2
  tail -n 20 "$STATE/log/$3.log" >&2
  return 1
}

start() {
  STATE=$1
  stop "$STATE"
  rm -rf "$STATE/srv" "$STATE/etc" "$STATE/log" "$STATE/pids"
  mkdir -p "$STATE/srv/d1" "$STATE/etc" "$STATE/log" "$STATE/pids"
  check_xattr "$STATE/srv/d1"
  local account container object proxy memcached
  read -r account container object proxy memcached < <(ports 5)
  write_configs "$STATE" "$account" "$container" "$object" "$proxy" "$memcached"

  memcached -l 127.0.0.1 -p "$memcached" -U 0 -m 16 -u "$(id -un)" >"$STATE/log/memcached.log" 2>&1 &
  echo $! >"$STATE/pids/memcached"
  # One process loads Swift (seconds of imports on a busy machine), builds the three rings and
  # forks the four servers. Each logs to standard error as well (there is no syslog to read).
  /usr/bin/python3 - "$STATE" "$account" "$container" "$object" <<'PY'
import os, sys
from swift.common.ring import RingBuilder
from swift.common.wsgi import run_wsgi
from swift.account import server as account
from swift.container import server as container
from swift.obj import server as obj
from swift.proxy import server as proxy
state = sys.argv[1]
for kind, port in zip(("account", "container", "object"), sys.argv[2:5]):
    builder = RingBuilder(4, 1, 0)  # 16 partitions, one replica, moves at once
    builder.add_dev({"id": 0, "region": 1, "zone": 1, "ip": "127.0.0.1", "port": int(port),
                     "device": "d1", "weight": 1})
    builder.rebalance()
    builder.get_ring().save(f"{state}/etc/{kind}.ring.gz")
for kind, callback in (("account", None), ("container", None),
                       ("object", obj.global_conf_callback), ("proxy", None)):
    pid = os.fork()
    if pid == 0:
        os.setsid()
        log = os.open(f"{state}/log/{kind}.log", os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        null = os.open(os.devnull, os.O_RDONLY)
        os.dup2(null, 0)
        os.dup2(log, 1)
        os.dup2(log, 2)
        options = {"verbose": True}
        if callback:
            options["global_conf_callback"] = callback
        os._exit(run_wsgi(f"{state}/etc/{kind}-server.conf", f"{kind}-server", **options) or 0)
    with open(f"{state}/pids/{kind}", "w") as f:
        f.write(f"{pid}\n")
PY
  wait_for_port "$memcached" "$(cat "$STATE/pids/memcached")" memcached
  local port
  for kind in account container object proxy; do
    eval "port=\$$kind"
    wait_for_port "$port" "$(cat "$STATE/pids/$kind")" "$kind"
  done

  local base="http://127.0.0.1:$proxy" token
  token=$(curl -sf --max-time 10 -D - -o /dev/null -H 'X-Storage-User: merovast:pusher' \
    -H "X-Storage-Pass: $KEY" "$base/auth/v1.0" | tr -d '\r' | awk 'tolower($1) == "x-auth-token:" { print $2 }')
  [ -n "$token" ] || { echo "store_servers: tempauth gave no token" >&2; return 1; }
  # Read by anyone (.r:*), listed by nobody: a cache in front serves only what it is asked for.
  curl -sf --max-time 10 -X PUT -H "X-Auth-Token: $token" -H 'X-Container-Read: .r:*' \
    "$base/v1/AUTH_merovast/$CONTAINER" >/dev/null ||
    { echo "store_servers: the container could not be made; the proxy's log:" >&2; tail -n 20 "$STATE/log/proxy.log" >&2; return 1; }
  cat >"$STATE/store.env" <<EOF
STORE_ORIGIN=$base/v1/AUTH_merovast/$CONTAINER
STORE_REMOTE=store:$CONTAINER
RCLONE_CONFIG=$STATE/rclone.conf
EOF
  echo "$base/v1/AUTH_merovast/$CONTAINER"
}

stop() {
  local state=$1 pidfile pid i
  [ -d "$state/pids" ] || return 0
  for pidfile in "$state"/pids/*; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pidfile in "$state"/pids/*; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    for i in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null || true
    rm -f "$pidfile"
  done
}

case "${1:-}" in
  start) [ $# -eq 2 ] || { echo "usage: $0 start STATE_DIR" >&2; exit 2; }; start "$(realpath -m "$2")" ;;
  stop) [ $# -eq 2 ] || { echo "usage: $0 stop STATE_DIR" >&2; exit 2; }; stop "$(realpath -m "$2")" ;;
  *) echo "usage: $0 start STATE_DIR | stop STATE_DIR" >&2; exit 2 ;;
esac
