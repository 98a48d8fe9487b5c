#!/usr/bin/env bash
# A release store on real infrastructure, from the shell: Swift (tests/wine/store_servers.sh)
# filled by deploy/push.sh, Varnish with deploy/varnish/merovast.vcl on 8081 in front of it
# (the controller's store mode). A store made by hand: a few files copied to o/<xx>/<sha256>,
# a manifest, a release folder with a Chinese name, and a stage's dot-files left behind.
# Swift starts once for every row (about 10 s), hence a file of its own.
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
repo=$(cd "$HARNESS_SCRIPTS/../.." && pwd)

work=$HARNESS_SCRATCH_DIR
store_state=$work/swift
trap '"$HARNESS_SCRIPTS/store_servers.sh" stop "$store_state"' EXIT
failures=0
check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
row() {  # row NAME: prints how long the previous row took
  [ -n "${row_name:-}" ] && echo "time: $row_name $((${EPOCHREALTIME/./} / 1000 - row_start)) ms"
  row_name=$1 row_start=$((${EPOCHREALTIME/./} / 1000))
}

www=$work/www
add_object() {  # add_object NAME SIZE: a file of random bytes in the store; prints its hash
  local file=$work/files/$1 hash
  mkdir -p "$work/files"
  head -c "$2" /dev/urandom >"$file"
  hash=$(sha256sum "$file" | cut -c1-64)
  mkdir -p "$www/o/${hash:0:2}"
  cp "$file" "$www/o/${hash:0:2}/$hash"
  echo "$hash"
}
object_path() { echo "/o/${1:0:2}/$1"; }
mkdir -p "$www/update_go" "$www/v/1,0,0,4/data" "$www/o/.stage-x"
map=$(add_object world.map 300000)
pak=$(add_object sound.pak 70000)
index=$(add_object index 900)
printf 'update_version=1,0,0,4\r\n' >"$www/update_go/update.htm"
printf 'x' >"$www/v/1,0,0,4/data/地图.map"
echo partial | tee "$www/o/.stage-x/obj" "$www/o/${map:0:2}/.$map.tmp" >/dev/null

row "Swift starts"
origin=$("$HARNESS_SCRIPTS/store_servers.sh" start "$store_state") || exit 1
source "$store_state/store.env"
export RCLONE_CONFIG
proxy_log=$store_state/log/proxy.log

row "push"
"$repo/deploy/push.sh" "$www" "$STORE_REMOTE" -q || exit 1
names=$(rclone lsf -R --files-only "$STORE_REMOTE")
check "the container holds the objects and the manifest, nothing else" \
  "$(printf '%s\n' "o/${index:0:2}/$index" "o/${map:0:2}/$map" "o/${pak:0:2}/$pak" update_go/update.htm | sort)" \
  "$(sort <<<"$names")"
check "and only ASCII names" "" "$(LC_ALL=C grep -n '[^ -~]' <<<"$names")"

row "Varnish starts"
server_ctl mode name=store origin="$origin" state="$work/varnish" >/dev/null || exit 1

fetch() {  # fetch PATH [CURL_OPTION...]: status|Content-Range|Cache-Control, the body in $work/body
  local path=$1
  shift
  curl -s --max-time 10 -D "$work/headers" -o "$work/body" "$@" "http://127.0.0.1:8081$path"
  tr -d '\r' <"$work/headers" | awk '
    NR == 1 { status = $2 }
    tolower($1) == "content-range:" { range = $2 " " $3 }
    tolower($1) == "cache-control:" { sub(/^[^:]*: /, ""); cache = $0 }
    END { printf "%s|%s|%s\n", status, range, cache }'
}
same_bytes() {  # same_bytes DESCRIPTION FILE: the last body is FILE's bytes
  if cmp -s "$2" "$work/body"; then echo "ok: $1"; else echo "FAILED: $1: the body differs from $2"; failures=$((failures + 1)); fi
}
# Proxy-logging writes a request's line once its body is out: a later request of the manifest,
# which always reaches Swift, marks that every line before it is there.
origin_requests() {  # origin_requests PATH: how many GETs of PATH reached Swift's proxy
  local marks i
  marks=$(grep -c 'GET /v1/AUTH_merovast/releases/update_go/update.htm ' "$proxy_log")
  fetch /update_go/update.htm >/dev/null
  for i in $(seq 100); do
    [ "$(grep -c 'GET /v1/AUTH_merovast/releases/update_go/update.htm ' "$proxy_log")" -gt "$marks" ] && break
    sleep 0.05
  done
  grep -c "GET /v1/AUTH_merovast/releases$1 " "$proxy_log"
}

row "objects through Varnish"
# The updater's requests ask caches not to answer from cache; an edge must not obey that.
for round in first second; do
  for pair in "world.map $map" "sound.pak $pak" "index $index"; do
    set -- $pair
    check "the $round GET of $1 is its object, cached for good" "200||public, max-age=31536000, immutable" \
      "$(fetch "$(object_path "$2")" -H 'Cache-Control: no-cache' -H 'Pragma: no-cache')"
    same_bytes "the $round GET of $1 comes back byte for byte" "$work/files/$1"
  done
done
for pair in "world.map $map" "sound.pak $pak" "index $index"; do
  set -- $pair
  check "Swift saw $1 once for two GETs" 1 "$(origin_requests "$(object_path "$2")")"
done
check "Varnish answered the second GETs from its cache" "hit hit hit" \
  "$(server_ctl requests | awk -F'\t' '$1 ~ /^GET \/o\// && $4 == "hit" { printf "%s%s", sep, $4; sep = " " }')"

row "ranges"
check "a range of a cached object is a 206 of exactly those bytes" "206|bytes 1000-1999/300000|public, max-age=31536000, immutable" \
  "$(fetch "$(object_path "$map")" -H 'Range: bytes=1000-1999')"
cmp -s <(tail -c +1001 "$work/files/world.map" | head -c 1000) "$work/body" ||
  { echo "FAILED: the range's bytes differ from the file's"; failures=$((failures + 1)); }
cold=$(add_object cold.map 200000)
"$repo/deploy/push.sh" "$www" "$STORE_REMOTE" -q || exit 1
check "a range of an object not yet cached is a 206 of exactly those bytes" "206|bytes 150000-199999/200000|public, max-age=31536000, immutable" \
  "$(fetch "$(object_path "$cold")" -H 'Range: bytes=150000-199999')"
cmp -s <(tail -c +150001 "$work/files/cold.map") "$work/body" ||
  { echo "FAILED: the cold range's bytes differ from the file's"; failures=$((failures + 1)); }
check "an open range to the end of the file" "206|bytes 199999-199999/200000" \
  "$(fetch "$(object_path "$cold")" -H 'Range: bytes=199999-' | cut -d'|' -f1-2)"

row "a new release"
check "the manifest is served as pushed, not to be cached" "200||no-cache" "$(fetch /update_go/update.htm)"
same_bytes "the manifest's bytes" "$www/update_go/update.htm"
fresh=$(add_object new.pak 5000)
printf 'update_version=1,0,0,5\r\n' >"$www/update_go/update.htm"
"$repo/deploy/push.sh" "$www" "$STORE_REMOTE" -q || exit 1
check "a manifest pushed while Varnish holds the old one is the very next answer" "200||no-cache" "$(fetch /update_go/update.htm)"
same_bytes "the new manifest's bytes" "$www/update_go/update.htm"
check "its new object is there" "200||public, max-age=31536000, immutable" "$(fetch "$(object_path "$fresh")")"
same_bytes "the new object's bytes" "$work/files/new.pak"

row "deletions"
rm "$www/o/${pak:0:2}/$pak"
"$repo/deploy/push.sh" "$www" "$STORE_REMOTE" -q || exit 1
check "an object removed from the web root is removed from the container" 0 \
  "$(rclone lsf -R --files-only "$STORE_REMOTE" | grep -c "$pak")"
check "the other objects stay" 4 "$(rclone lsf -R --files-only "$STORE_REMOTE" | grep -c '^o/')"

row "what is not served"
for path in /v/1,0,0,4/data/x.map /o/ /o/${map:0:2}/ "/o/00/$map" "/o/${map:0:2}/${map^^}" "$(object_path "$map")?x=1" \
  /update_go/ /update_go/update.htm.tmp / /v1/AUTH_merovast/releases/update_go/update.htm; do
  check "$path is a 404" "404" "$(fetch "$path" | cut -d'|' -f1)"
done
check "a PUT is refused" 405 "$(curl -s --max-time 10 -o /dev/null -w '%{http_code}' -X PUT --data x \
  "http://127.0.0.1:8081$(object_path "$map")")"

row "a device folder without extended attributes"
mkdir -p "$work/ramfs"
# ramfs keeps no extended attributes at all.
if mount -t ramfs ramfs "$work/ramfs"; then
  message=$("$HARNESS_SCRIPTS/store_servers.sh" start "$work/ramfs/swift" 2>&1 >/dev/null)
  check "Swift is not started on it, and says why" 1 "$(grep -c 'does not take user extended attributes' <<<"$message")"
  "$HARNESS_SCRIPTS/store_servers.sh" stop "$work/ramfs/swift"
  umount "$work/ramfs"
else
  echo "FAILED: ramfs could not be mounted"; failures=$((failures + 1))
fi
row end

[ "$failures" -eq 0 ]
