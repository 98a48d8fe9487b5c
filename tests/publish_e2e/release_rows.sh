#!/usr/bin/env bash
# Releases as merovast-publish stages them with hash lines (and, in the build with the tests'
# public key, signed), changed in one way per row, served by nginx with the sample
# configuration and met by the updater under Wine in an installation of the older target.
#   release_rows.sh hashes|signed|store|signed-store MEROVAST_PUBLISH MEROVAST_EXE NEW_TARGET_EXE
#                   [LATER_TARGET_EXE UPDATER_WITH_BOTH_KEYS UPDATER_WITH_SECOND_KEY]
# Each row says whether the release is installed or refused. Installed: the updater ends by
# itself, the new target starts, the installation holds the release byte for byte, and nginx
# saw the requests the row names. Refused: the user sees the failure box alone, the target does
# not start, no file changed unless the row names it, no temporary file is left, and nginx saw
# the requests the row names.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine/wine-env.sh"
mode=$1 publish=$2 updater=$3 new_target=$4 later_target=${5:-} both_keys=${6:-} second_key=${7:-}
keys="$here/../keys"
serve="$here/../../deploy/nginx/serve.sh"
varnish="$here/../../deploy/varnish/serve.sh" push="$here/../../deploy/push.sh" swift_servers="$here/../wine/store_servers.sh"

failures=0
check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
# "PATH SHA-256" of every file below a folder and "PATH/ folder" of every folder, sorted by path.
tree_sums() {
  (cd "$1" && {
    find . -type f -printf '%P\n' | xargs -r -d '\n' sha256sum | awk '{ print $2, $1 }'
    find . -mindepth 1 -type d -printf '%P/ folder\n'
  } | LC_ALL=C sort)
}

www="$HARNESS_SCRATCH_DIR/www" install="$HARNESS_SCRATCH_DIR/install" state="$HARNESS_SCRATCH_DIR/nginx"
release="$HARNESS_SCRATCH_DIR/release" manifest="$www/update_go/update.htm" served="$www/v/1,0,0,4"
# The request log the rows read, who keeps it, and how long it takes to show a request.
log="$state/access.log" server_name=nginx settle=0.1

server_ctl mode name=down >/dev/null || exit 1
mkdir -p "$www"
trap '"$serve" stop "$state"' EXIT
SERVE_LOG_BYTES=1 SERVE_LOG_RANGE=1 "$serve" start "$www" "$state" 8081 || exit 1

# A fresh release 1,0,0,4, an empty web root and a fresh installation of 1,0,0,3 holding older
# copies of two of its files; `publish_release ARGS...` stages it with the tool's extra ARGS.
fresh_release() {
  rm -rf "${www:?}"/* "$www/.published-files"
  fresh_release_files
  fresh_install
}
fresh_install() {
  rm -rf "$install"
  mkdir -p "$install/data"
  cp "$updater" "$install/Merovast.exe"
  cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$install/Ostravine.exe"
  printf 'Ostravine 1.0.0.3\r\n' >"$install/readme.txt"
  printf 'items of 1.0.0.3' >"$install/data/items.dat"
}
fresh_release_files() {
  rm -rf "$release"
  mkdir -p "$release/data/maps"
  cp "$new_target" "$release/Ostravine.exe"
  printf 'Ostravine 1.0.0.4\r\n' >"$release/readme.txt"
  head -c 200000 /dev/urandom >"$release/data/items.dat"
  seq 1 5000 >"$release/data/maps/east.map"
}
# With `store` set to a URL, the release goes to the store and deploy/push.sh puts it in Swift.
publish_release() {
  "$publish" stage "$release" "$www" http://127.0.0.1:8081 "$@" ${store:+--no-packs --store "$store"} >/dev/null ||
    failures=$((failures + 1))
  [ -z "${store:-}" ] || "$push" "$www" "$STORE_REMOTE" -q || failures=$((failures + 1))
}
# Flips one bit of the byte at OFFSET of FILE.
flip_byte() {
  python3 -c 'import sys; p, o = sys.argv[1], int(sys.argv[2]); b = bytearray(open(p, "rb").read()); b[o] ^= 1; open(p, "wb").write(b)' "$1" "$2"
}
# The offset of the first byte after the first occurrence of TEXT in the manifest.
offset_after() { grep -bo -- "$1" "$manifest" | head -n 1 | awk -F: -v n=${#1} '{ print $1 + n }'; }
# Signs the manifest again with the tests' key after a row changed it: a new signature line over
# every byte before the old one (ECDSA P-256 from openssl, its DER r and s as 32 bytes each).
resign_manifest() {
  python3 - "$manifest" "$keys/test-private.pem" <<'PY'
import base64, subprocess, sys
path, key = sys.argv[1], sys.argv[2]
data = open(path, "rb").read()
body = data[:data.rindex(b"update_signature=")]
der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=body, capture_output=True, check=True).stdout
numbers, i = [], 2  # SEQUENCE { INTEGER r, INTEGER s }, short lengths
while i < len(der):
    n = der[i + 1]
    numbers.append(int.from_bytes(der[i + 2:i + 2 + n], "big"))
    i += 2 + n
raw = b"".join(x.to_bytes(32, "big") for x in numbers)
open(path, "wb").write(body + b"update_signature=" + base64.b64encode(raw) + b"\r\n")
PY
}
requests() { sleep "$settle"; tail -n +"$(($1 + 1))" "$log" | cut -f1 | sed 's/^GET \(.*\) HTTP\/1.1$/\1/' | paste -sd' '; }
# The Range header of each request for PATH since line N of the log ("-" for none).
ranges_of() { tail -n +"$(($1 + 1))" "$log" | awk -F'\t' -v p="GET $2 HTTP/1.1" '$1 == p { print $NF }' | paste -sd' '; }
# The body bytes nginx sent since line N of the log for everything but the manifest.
bytes_sent() { tail -n +"$(($1 + 1))" "$log" | awk -F'\t' -v m="GET $M HTTP/1.1" '$1 != m { n += $4 } END { print n + 0 }'; }

# A release with a large file that installations hold an older copy of: the map rows.
#   with_large_file OLD NEW: OLD in the installation, NEW in the release, both of python code
with_large_file() {
  python3 -c "import random, sys; random.seed(17); sys.stdout.buffer.write(random.randbytes(4 << 20))" >"$HARNESS_SCRATCH_DIR/large.old"
  python3 -c "$1" "$HARNESS_SCRATCH_DIR/large.old" >"$install/data/large.pak"
  python3 -c "$2" "$HARNESS_SCRATCH_DIR/large.old" >"$release/data/large.pak"
}
same='import sys; sys.stdout.buffer.write(open(sys.argv[1], "rb").read())'
overwritten='import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[2 << 20:(2 << 20) + (256 << 10)] = bytes(256 << 10); sys.stdout.buffer.write(b)'
inserted='import sys; b = open(sys.argv[1], "rb").read(); sys.stdout.buffer.write(b[:5000] + b"+" + b[5000:])'
overwritten_mib='import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[1 << 20:2 << 20] = bytes(1 << 20); sys.stdout.buffer.write(b)'
map_of() { grep -a '^update_map[0-9]*=' "$manifest" | sed 's/^update_map[0-9]*=\([^ ]*\) .*/\1/'; }

# The request paths nginx logs for release files (UTF-8 paths), in the manifest's order: folders
# before subfolders, each folder's names by their bytes; GBK bytes as \xXX.
served_paths() {
  python3 - "$R" "$@" <<'PY'
import sys
base, paths = sys.argv[1], sys.argv[2:]
def key(p):
    folder, _, name = p.rpartition("/")
    return (folder.count("/") + (1 if folder else 0), folder.encode(), name.encode())
out = []
for p in sorted(paths, key=key):
    gbk = p.encode("gbk")
    out.append(base + "/" + "".join("\\x%02X" % b if b >= 0x80 else chr(b) for b in gbk))
print(" ".join(out))
PY
}
# Release 1,0,0,3 is staged first with four files in 数据/ that 1,0,0,4 drops, so that 1,0,0,4
# gets their removal lines (0: 旧地图.map, renamed 数据/地图.map; 1: 旧说明.txt; 2: 旧目录; 3: 旧锁.dat),
# and renames data/maps/east.map only in case. The installation of 1,0,0,3 holds the map as
# published, a user's own file beside it, a changed copy of 旧说明.txt, a folder at 旧目录 and
# 旧锁.dat as published; `kept` is what it must hold after the update.
#   publish_dropping [STAGE ARGS...]
publish_dropping() {
  fresh_release
  local old=$HARNESS_SCRATCH_DIR/release-1003
  rm -rf "$old" && mkdir -p "$old/数据" "$old/data/maps"
  cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$old/Ostravine.exe"
  cp "$release/data/maps/east.map" "$old/data/maps/" && cp "$install/data/items.dat" "$old/data/"
  printf 'the old map' >"$old/数据/旧地图.map"
  printf 'old notes' >"$old/数据/旧说明.txt"
  printf 'old folder' >"$old/数据/旧目录"
  printf 'old lock' >"$old/数据/旧锁.dat"
  "$publish" stage "$old" "$www" http://127.0.0.1:8081 "$@" >/dev/null || failures=$((failures + 1))
  mkdir -p "$release/数据" && printf 'the new map' >"$release/数据/地图.map"
  mv "$release/data/maps/east.map" "$release/data/maps/EAST.map"
  publish_release "$@"
  mkdir -p "$install/数据/旧目录" "$install/data/maps"
  cp "$old/数据/旧地图.map" "$old/数据/旧锁.dat" "$install/数据/"
  cp "$old/data/maps/east.map" "$install/data/maps/"
  printf 'my own map' >"$install/数据/我的.map"
  printf 'old notes, and mine' >"$install/数据/旧说明.txt"
  printf 'x' >"$install/数据/旧目录/x"
  kept=$HARNESS_SCRATCH_DIR/kept
  rm -rf "$kept" && cp -a "$release" "$kept" && mv "$kept/data/maps/EAST.map" "$kept/data/maps/east.map"
  cp -a "$install/数据/我的.map" "$install/数据/旧说明.txt" "$install/数据/旧目录" "$kept/数据/"
}
# Sets removal line 0's path in the manifest to PATH (GBK bytes as the manifest holds them).
set_gone0() {
  python3 - "$manifest" "$1" <<'PY'
import re, sys
path, value = sys.argv[1], sys.argv[2].encode()
data = open(path, "rb").read()
open(path, "wb").write(re.sub(rb"(?m)^update_gone0=\S+", lambda m: b"update_gone0=" + value, data, count=1))
PY
}

# What `merovast-publish plan` says the updater will download, as request paths, and whether
# the run succeeds; for rows whose served files are as published, it must be what happens.
plan_says() {
  local out rc=0
  out=$("$publish" plan "$manifest" "$install" --web-root "$www" ${public_key:+--public-key "$public_key"}) || rc=$?
  local paths served_at
  served_at=$(grep -a '^update_url=' "$manifest" | sed 's|^update_url=http://[^/]*||; s/\r$//')
  paths=$(sed -n 's/^entry [0-9]*: downloads <install>\\\(.*\)$/\1/p' <<<"$out" | tr '\\' / | sed "s|^|$served_at/|" | paste -sd' ')
  echo "$M${paths:+ $paths} exit $rc"
}

# What an installed release leaves: the release, the target's marker, the updater when the
# release has none, and the updater renamed aside when a row sets `aside` to the old one's file.
expected_tree() {
  local shipped=${installs:-$release}
  {
    tree_sums "$shipped"
    (cd "$install" && sha256sum Ostravine.exe.ran | awk '{ print $2, $1 }')
    [ -e "$shipped/Merovast.exe" ] || (cd "$install" && sha256sum Merovast.exe | awk '{ print $2, $1 }')
    [ -z "${aside:-}" ] || echo "Merovast.exe.old $(sha256sum <"$aside" | cut -d' ' -f1)"
  } | LC_ALL=C sort
}

# run_row NAME installed|refused "REQUESTED PATHS" [FILE-CHANGED...]; with planned=1 set, the
# plan must agree.
# Under heavy load Wine now and then ends a program at once with status 0, before its first
# window and anything it does: no request reaches the server and nothing changes. Such a start
# is run again, once, and said so; everything else about the row is checked as it is.
run_row() {
  local attempt
  for attempt in 1 2; do
    run_row_once "$@" && return
    echo "note: $1: the updater ended at once, with no window and no request; Wine is started again"
  done
  check "$1: Wine started the updater" "twice with a window" "twice without one"
}
# run_row_once: as run_row; fails, having checked nothing, when the updater ran nothing.
run_row_once() {
  local name=$1 outcome=$2 expected_requests=$3 rc=0 box before after logged plan= ended=0
  shift 3
  echo "--- $name"
  [ "${planned:-0}" = 1 ] && plan=$(plan_says)
  logged=$(wc -l <"$log")
  before=$(tree_sums "$install")
  wine_start 60 "$install/Merovast.exe"
  if [ "$outcome" = installed ]; then
    wait "$WINE_STARTED_PID" || rc=$?
    wait_for_file 15 "$install/Ostravine.exe.ran" || true
    [ "$rc" -ne 0 ] || [ -e "$install/Ostravine.exe.ran" ] || [ -n "$(requests "$logged")" ] || return 1
    check "$name: the updater ends by itself" 0 "$rc"
    check "$name: the new target was started" 1 "$(cat "$install/Ostravine.exe.ran" 2>/dev/null | wc -l)"
    check "$name: the installation holds the release byte for byte" "$(expected_tree)" "$(tree_sums "$install")"
  else
    # Generous: on a busy machine Wine's first window of a run can take many seconds, and the
    # wait costs time only in a row that fails.
    if box=$(window_wait 45 failed); then
      check "$name: no other box came before the failure box" "" "$(xdotool search --name '^Merovast$' 2>/dev/null)"
      window_press "$box" Return
    else
      wait "$WINE_STARTED_PID" || rc=$?
      ended=1
      [ "$rc" -ne 0 ] || [ -n "$(requests "$logged")" ] || return 1
      check "$name: the failure box appears" shown "none"
    fi
    [ "$ended" = 1 ] || wait "$WINE_STARTED_PID" || rc=$?
    check "$name: the updater ends once the box is answered" 0 "$rc"
    sleep 0.5
    check "$name: the target was not started" no "$([ -e "$install/Ostravine.exe.ran" ] && echo yes || echo no)"
    after=$(tree_sums "$install")
    local changed
    changed=$(LC_ALL=C comm -3 <(echo "$before") <(echo "$after") | awk '{ print $1 }' | LC_ALL=C sort -u | paste -sd' ')
    check "$name: the files that changed" "$*" "$changed"
  fi
  check "$name: $server_name saw" "$expected_requests" "$(requests "$logged")"
  if [ -n "$plan" ]; then
    check "$name: merovast-publish plan agrees" "$(requests "$logged") exit $([ "$outcome" = installed ] && echo 0 || echo 1)" "$plan"
  fi
  return 0
}

M=/update_go/update.htm R=/v/1,0,0,4
all="$M $R/readme.txt $R/data/items.dat $R/data/maps/east.map $R/Ostravine.exe"
if [ "$mode" = hashes ]; then
  fresh_release && publish_release
  flip_byte "$served/data/items.dat" 100000
  run_row "one byte of a served file changed" refused "$M $R/readme.txt $R/data/items.dat" readme.txt

  fresh_release && publish_release
  head -c 1000 /dev/urandom >>"$served/data/items.dat"
  run_row "a served file longer than its hash line says" refused "$M $R/readme.txt $R/data/items.dat" readme.txt

  fresh_release && publish_release
  sed -i 's/^\(update_hash1=.\{63\}\)./\1/' "$manifest"
  planned=1 run_row "a malformed hash line" refused "$M $R/readme.txt" readme.txt

  fresh_release && publish_release
  cp "$release/readme.txt" "$install/readme.txt"
  mkdir -p "$install/data/maps" && cp "$release/data/maps/east.map" "$install/data/maps/east.map"
  planned=1 run_row "two of three files already current" installed "$M $R/data/items.dat $R/Ostravine.exe"

  # Entry 0 renamed, its bytes served under the new name: the updater's own file, which only a
  # key build replaces, and the name a replaced updater is renamed to.
  for name in Merovast.exe Merovast.exe.old; do
    fresh_release && publish_release
    sed -i "s/^update_name0=readme.txt\r\$/update_name0=$name\r/" "$manifest"
    cp "$served/readme.txt" "$served/$name"
    planned=1 run_row "entry 0 is $name" refused "$M"
  done

  # Block maps: the large file is assembled from the installed copy and ranges of the new one.
  L=$R/data/large.pak
  for row in "overwritten bytes=2097152-2359295" "inserted bytes=0-16383"; do
    read -r change ranges <<<"$row"
    fresh_release && with_large_file "$same" "${!change}" && publish_release
    logged=$(wc -l <"$log")
    run_row "4 MiB with a map, $change" installed "$M $R/readme.txt $R/data/items.dat $R$(map_of) $L $R/data/maps/east.map $R/Ostravine.exe"
    check "4 MiB with a map, $change: ranges only" "$ranges" "$(ranges_of "$logged" "$L")"
  done

  # A killed run's temporary file: with a map it seeds the download, without one it is resumed.
  fresh_release && with_large_file "$same" "$overwritten" && publish_release
  rm "$install/data/large.pak"
  head -c 3000000 "$release/data/large.pak" >"$install/data/large.pak.download"
  head -c 100000 "$release/data/items.dat" >"$install/data/items.dat.download"
  logged=$(wc -l <"$log")
  run_row "killed runs' temporary files" installed "$M $R/readme.txt $R/data/items.dat $R$(map_of) $L $R/data/maps/east.map $R/Ostravine.exe"
  check "killed runs' temporary files: the rest of the mapped file" "bytes=2998272-4194303" "$(ranges_of "$logged" "$L")"
  check "killed runs' temporary files: the rest of the file without a map" "bytes=100000-199999" \
    "$(ranges_of "$logged" "$R/data/items.dat")"

  # A served map with one byte changed: its hash tells, and the file comes whole.
  fresh_release && with_large_file "$same" "$overwritten" && publish_release
  flip_byte "$www/v/1,0,0,4$(map_of)" 100
  logged=$(wc -l <"$log")
  run_row "a served map with one byte changed" installed "$M $R/readme.txt $R/data/items.dat $R$(map_of) $L $R/data/maps/east.map $R/Ostravine.exe"
  check "a served map with one byte changed: the whole file" "-" "$(ranges_of "$logged" "$L")"

  # What plan says an update fetches is what nginx sends: one release of a 3 MiB file with a map,
  # staged once, met by installations that hold other things of it.
  fresh_release
  python3 -c "import random, sys; random.seed(23); sys.stdout.buffer.write(random.randbytes(3 << 20))" >"$release/data/large.pak"
  publish_release
  new_large="$release/data/large.pak"
  # plan_fetches ROW SETUP: a fresh installation changed by SETUP; plan's total against nginx's.
  plan_fetches() {
    fresh_install && eval "$2"
    local said logged
    said=$("$publish" plan "$manifest" "$install" --web-root "$www" | sed -n 's/^fetches in all: \([0-9]*\) bytes in [0-9]* requests$/\1/p')
    logged=$(wc -l <"$log")
    run_row "plan's bytes, $1" installed "$3"
    check "plan's bytes, $1: plan says what nginx sent" "$(bytes_sent "$logged")" "$said"
  }
  files="$R/readme.txt $R/data/items.dat"
  rest="$R/data/maps/east.map $R/Ostravine.exe"
  mapped="$M $files $R$(map_of) $L $rest"
  plan_fetches "an overwritten MiB" \
    'python3 -c "$overwritten_mib" "$new_large" >"$install/data/large.pak"' "$mapped"
  plan_fetches "an inserted byte" \
    'python3 -c "$inserted" "$new_large" >"$install/data/large.pak"' "$mapped"
  plan_fetches "a killed run's temporary file with a map" \
    'head -c 1500000 "$new_large" >"$install/data/large.pak.download"' "$mapped"
  plan_fetches "a killed run's temporary file without a map" \
    'head -c 100000 "$release/data/items.dat" >"$install/data/items.dat.download"' "$M $files $L $rest"
  plan_fetches "a NAME.seed beside an old file" \
    'python3 -c "$overwritten_mib" "$new_large" >"$install/data/large.pak" &&
     head -c 1600000 "$new_large" >"$install/data/large.pak.seed"' "$mapped"
  plan_fetches "nothing in common" \
    'head -c 3000000 /dev/urandom >"$install/data/large.pak"' "$mapped"

  # A store release met by updaters that predate the store line, modelled by this one on the
  # manifest without the lines they do not know, which they read as text to ignore.
  fresh_release && publish_release --no-packs --store
  sed -i '/^update_store=/d' "$manifest"
  run_row "a store release, to an updater that knows the index but not the store" refused "$M $R.index"
  fresh_release && publish_release --no-packs --store
  sed -i '/^update_store=/d; /^update_index=/d' "$manifest"
  planned=1 run_row "a store release, to an updater from before the index" refused "$M"
  # And met by the updater itself as users of the last release before the store line have it
  # (older/Merovast.exe, made by older/build.sh).
  fresh_release && publish_release --store
  cp "$here/older/Merovast.exe" "$install/Merovast.exe"
  run_row "a store release, to the updater built before the store line" refused "$M $R.index"

  # Removal lines, here in the index: after every entry, the files 1,0,0,4 dropped go when they
  # hold the published bytes; a user's own file, a changed copy, a folder, a held file and a file
  # renamed only in case stay, and the run succeeds.
  dropping="$M $R.index $(served_paths readme.txt data/items.dat 数据/地图.map) $R/Ostravine.exe"
  publish_dropping --index
  holding="$HARNESS_SCRATCH_DIR/holding" let_go="$HARNESS_SCRATCH_DIR/let-go"
  rm -f "$holding" "$let_go"
  wine_start 90 "$HARNESS_STANDIN_DIR/holdfile.exe" "$(windows_path "$install/数据/旧锁.dat")" --seconds 80 \
    --until "$(windows_path "$let_go")" --ready "$(windows_path "$holding")"
  holder=$WINE_STARTED_PID
  wait_for_file 20 "$holding" || failures=$((failures + 1))
  cp "$install/数据/旧锁.dat" "$kept/数据/"
  installs=$kept run_row "a release that drops files, its removal lines in the index" installed "$dropping"
  touch "$let_go" && wait "$holder"

  # Nothing is removed by a run that fails, nor by one whose removal list is refused.
  publish_dropping
  flip_byte "$served/data/items.dat" 100000
  run_row "a release that drops files, a download failing" refused "$M $R/readme.txt $R/data/items.dat" readme.txt
  for gone in '\Ostravine.exe' '\MEROVAST.EXE' '..\x' '\README.TXT'; do
    publish_dropping
    set_gone0 "$gone"
    run_row "a removal line naming $gone" refused "$M"
  done
elif [ "$mode" = signed ]; then
  public_key=$(cat "$keys/test-public.txt")
  planned=1
  other_key="$HARNESS_SCRATCH_DIR/other.pem"
  "$publish" keygen "$other_key" >/dev/null || failures=$((failures + 1))
  fresh_release && publish_release --key "$keys/test-private.pem"
  run_row "a release signed with the built-in key's pair" installed "$all"
  [ "$failures" -eq 0 ] ||
    echo "FAILED: the updater did not carry out a release signed with its key: Wine's CNG needs GnuTLS (libgnutls30) for ECDSA"

  for place in "update_filesize=" "update_name1=" "update_signature="; do
    fresh_release && publish_release --key "$keys/test-private.pem"
    flip_byte "$manifest" "$(offset_after "$place")"
    run_row "one byte changed after $place" refused "$M"
  done

  fresh_release && publish_release --key "$other_key"
  run_row "signed with another key" refused "$M"

  fresh_release && with_large_file "$same" "$overwritten" && publish_release --key "$keys/test-private.pem"
  flip_byte "$manifest" "$(($(offset_after "update_map") + 40))"
  run_row "one byte of a map line changed after signing" refused "$M"

  fresh_release && publish_release --key "$keys/test-private.pem"
  printf '\r\n' >>"$manifest"
  run_row "bytes after the signature line" refused "$M"

  publish_dropping --key "$keys/test-private.pem"
  planned=0 installs=$kept run_row "a signed release that drops files" installed \
    "$M $(served_paths readme.txt data/items.dat 数据/地图.map) $R/Ostravine.exe"

  # The old map's removal line put in after signing, before the signature line.
  publish_dropping --key "$keys/test-private.pem" --keep-files
  python3 - "$manifest" <<'PY'
import hashlib, sys
path = sys.argv[1]
data = open(path, "rb").read()
at = data.rindex(b"update_signature=")
gone = "\\数据\\旧地图.map".encode("gbk") + b" " + hashlib.sha256(b"the old map").hexdigest().encode() + b" 11"
open(path, "wb").write(data[:at] + b"update_removed=1\r\nupdate_gone0=" + gone + b"\r\n" + data[at:])
PY
  planned=0 run_row "a removal line put in after signing" refused "$M"

  fresh_release && publish_release
  run_row "unsigned" refused "$M"

  fresh_release && publish_release
  cp "$new_target" "$install/Ostravine.exe"
  run_row "unsigned, with the target current" refused "$M"

  # Signed, but one served file is another release's: its hash line tells.
  fresh_release && publish_release --key "$keys/test-private.pem"
  cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$served/data/items.dat"
  planned=0 run_row "a served file swapped for another release's" refused "$M $R/readme.txt $R/data/items.dat" readme.txt

  # An old signed manifest served again over a newer installation, its version folder still
  # there: a key build reads the installed target's version and refuses to go back.
  fresh_release
  cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$release/Ostravine.exe"
  printf 'Ostravine 1.0.0.3\r\n' >"$release/readme.txt"
  publish_release --key "$keys/test-private.pem"
  cp "$manifest" "$HARNESS_SCRATCH_DIR/old.htm"
  fresh_release_files && publish_release --key "$keys/test-private.pem"
  rm -rf "$install" && cp -a "$release" "$install" && cp "$updater" "$install/Merovast.exe"
  cp "$HARNESS_SCRATCH_DIR/old.htm" "$manifest"
  run_row "an old signed manifest replayed over a newer installation" refused "$M"

  # The installed target has the release's version but other bytes: an equal version is no
  # rollback, and the installation is repaired.
  fresh_release && publish_release --key "$keys/test-private.pem"
  cp "$new_target" "$install/Ostravine.exe" && printf 'damaged' >>"$install/Ostravine.exe"
  run_row "the release's version with another size installed" installed "$all"

  fresh_release && publish_release --key "$keys/test-private.pem"
  rm "$install/Ostravine.exe"
  run_row "no target installed" installed "$all"

  fresh_release && publish_release --key "$keys/test-private.pem" --expires-at 2000-01-01T00:00:00Z 2>/dev/null
  run_row "a manifest that expired in 2000" refused "$M"

  fresh_release && publish_release --key "$keys/test-private.pem" --expires-at 2099-01-01T00:00:00Z
  run_row "a manifest that expires in 2099" installed "$all"

  fresh_release && publish_release --key "$keys/test-private.pem" --expires-at 2099-01-01T00:00:00Z
  sed -i 's/^update_expires=2099-01-01T00:00:00Z/update_expires=2099-01-01 00:00:00/' "$manifest" && resign_manifest
  run_row "a malformed expiry line, signed" refused "$M"

  fresh_release && publish_release --key "$keys/test-private.pem"
  sed -i 's/^update_version=1,0,0,4/update_version=1,0,0,4b/' "$manifest" && resign_manifest
  run_row "a version that does not read as numbers, signed" refused "$M"

  # Dotted versions compare as the comma versions do.
  fresh_release && publish_release --key "$keys/test-private.pem"
  sed -i 's/^update_version=1,0,0,4/update_version=1.0.0.2/' "$manifest" && resign_manifest
  run_row "an older dotted version, signed" refused "$M"

  fresh_release && publish_release --key "$keys/test-private.pem"
  sed -i 's/^update_version=1,0,0,4/update_version=1.0.0.4/' "$manifest" && resign_manifest
  run_row "a newer dotted version, signed" installed "$all"

  # The updater replaces itself, as entry 0: here with the same program and a few more bytes.
  old_updater="$HARNESS_SCRATCH_DIR/Merovast-old.exe" new_updater="$HARNESS_SCRATCH_DIR/Merovast-new.exe"
  cp "$updater" "$old_updater"
  { cat "$updater" && printf 'a newer updater'; } >"$new_updater"
  U=$R/Merovast.exe
  with_updater() { fresh_release && cp "$1" "$release/Merovast.exe" && publish_release --key "$2"; }
  with_updater "$new_updater" "$keys/test-private.pem"
  aside=$old_updater run_row "a release with a new updater replaces it" installed "$M $U ${all#"$M "}"
  rm -f "$install/Ostravine.exe.ran"
  run_row "the new updater's first run removes the old one and finds the installation current" installed "$M"

  with_updater "$new_updater" "$keys/test-private.pem"
  flip_byte "$served/Merovast.exe" 1000
  planned=0 run_row "a new updater whose body fails its hash" refused "$M $U"

  with_updater "$new_updater" "$keys/test-private.pem"
  cp "$updater" "$install/Merovast.exe.old"
  holding="$HARNESS_SCRATCH_DIR/holding" let_go="$HARNESS_SCRATCH_DIR/let-go"
  rm -f "$holding" "$let_go"
  wine_start 90 "$HARNESS_STANDIN_DIR/holdfile.exe" "$(windows_path "$install/Merovast.exe.old")" --seconds 80 \
    --until "$(windows_path "$let_go")" --ready "$(windows_path "$holding")"
  holder=$WINE_STARTED_PID
  wait_for_file 20 "$holding" || failures=$((failures + 1))
  planned=0 run_row "the aside file of an earlier run held open elsewhere" refused "$M $U"
  touch "$let_go" && wait "$holder"

  # Key rotation: an updater with the old and a second key takes over; the next release, signed
  # with the second key, installs; an updater with the second key alone refuses the old key.
  with_updater "$both_keys" "$keys/test-private.pem"
  aside=$old_updater run_row "an updater with a second key takes over" installed "$M $U ${all#"$M "}"
  rm -f "$install/Ostravine.exe.ran"
  later="$HARNESS_SCRATCH_DIR/release-1005" L=/v/1,0,0,5
  rm -rf "$later" && cp -a "$release" "$later" && rm "$later/Merovast.exe"
  cp "$later_target" "$later/Ostravine.exe" && printf 'Ostravine 1.0.0.5\r\n' >"$later/readme.txt"
  "$publish" stage "$later" "$www" http://127.0.0.1:8081 --key "$keys/second-private.pem" >/dev/null ||
    failures=$((failures + 1))
  public_key="$public_key,$(cat "$keys/second-public.txt")" installs=$later \
    run_row "the next release, signed with the second key" installed "$M $L/readme.txt $L/Ostravine.exe"

  fresh_release && publish_release --key "$keys/test-private.pem"
  cp "$second_key" "$install/Merovast.exe"
  public_key=$(cat "$keys/second-public.txt") run_row "an updater with the second key alone" refused "$M"

  fresh_release && cp "$second_key" "$release/Merovast.exe"
  rc=0 && said=$("$publish" stage "$release" "$www" http://127.0.0.1:8081 --key "$keys/test-private.pem" 2>&1) || rc=$?
  check "the publisher refuses an updater without the signing key, saying which host it has" "1 yes yes" \
    "$rc $(grep -q 'does not carry the signing key' <<<"$said" && echo yes) $(grep -q 127.0.0.1 <<<"$said" && echo yes)"
  check "the publisher stages nothing then" "" "$(ls -A "$www")"

  # check --release holds a release's updater against the key that signed the manifest.
  with_updater "$new_updater" "$keys/test-private.pem"
  said=$("$publish" check "$manifest" --public-key "$public_key" --release "$served")
  check "check says the release replaces the updater" yes "$(grep -q '^entry 0 replaces the updater' <<<"$said" && echo yes)"
  cp "$second_key" "$served/Merovast.exe"
  rc=0 && said=$("$publish" check "$manifest" --public-key "$public_key" --release "$served" 2>&1) || rc=$?
  check "check --release refuses an updater without the signing key" "1 yes" \
    "$rc $(grep -q 'does not carry the key that signs the manifest' <<<"$said" && echo yes)"
fi

# A release of 41 files, most with Chinese names, whose entries do not fit in the manifest: stage
# puts them in the index /v/1,0,0,4.index, which the manifest names by its SHA-256 and size.
I=/v/1,0,0,4.index index="$www/v/1,0,0,4.index"
# plan names files in UTF-8 where nginx logs their GBK bytes: these rows are not planned.
planned=0
sign=()
[ "$mode" = signed ] && sign=(--key "$keys/test-private.pem")
index_release_files() {  # RELEASE_DIR SEED: the target and 40 files of 2 KiB
  rm -rf "$1"
  mkdir -p "$1/地图/北区"
  cp "$new_target" "$1/Ostravine.exe"
  python3 - "$1" "$2" <<'PY'
import sys
folder, seed = sys.argv[1], sys.argv[2]
for i in range(1, 21):
    n = int(seed + str(i))
    with open(f"{folder}/地图/图{i}.dat", "wb") as f:
        f.write(bytes((n * 7 + k) % 251 for k in range(2048)))
    with open(f"{folder}/地图/北区/第{i}区.map", "wb") as f:
        f.write(bytes((n * 3 + k) % 241 for k in range(2048)))
PY
}
# An installation of 1,0,0,3 two releases behind: ten files as an earlier release had them, one
# missing. Made and staged once; each row that needs it afresh gets copies of the three folders.
index_install_behind() {
  local made=$HARNESS_SCRATCH_DIR/index-behind
  if [ ! -d "$made" ]; then
    rm -rf "${www:?}"/* "$www/.published-files" "$install"
    index_release_files "$release" 4
    publish_release "${sign[@]}"
    index_release_files "$install" 3
    cp "$updater" "$install/Merovast.exe"
    cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$install/Ostravine.exe"
    for i in 6 7 8 9 10; do cp "$release/地图/图$i.dat" "$install/地图/"; done
    for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
      [ "$i" -le 6 ] || cp "$release/地图/北区/第$i区.map" "$install/地图/北区/"
    done
    rm "$install/地图/北区/第1区.map"
    mkdir -p "$made"
    cp -a "$www" "$made/www" && cp -a "$install" "$made/install" && cp -a "$release" "$made/release"
    return
  fi
  rm -rf "$www" "$install" "$release"
  cp -a "$made/www" "$www" && cp -a "$made/install" "$install" && cp -a "$made/release" "$release"
}
behind=(地图/图1.dat 地图/图2.dat 地图/图3.dat 地图/图4.dat 地图/图5.dat 地图/图11.dat 地图/图12.dat 地图/图13.dat
  地图/图14.dat 地图/图15.dat 地图/图16.dat 地图/图17.dat 地图/图18.dat 地图/图19.dat 地图/图20.dat
  地图/北区/第1区.map 地图/北区/第2区.map 地图/北区/第3区.map 地图/北区/第4区.map 地图/北区/第5区.map 地图/北区/第6区.map)

if [[ "$mode" != *store ]]; then
  index_install_behind
  check "the release is staged with an index" 1 "$(grep -ac '^update_index=.index ' "$manifest")"
  run_row "an index release over an installation two releases behind" installed \
    "$M $I $(served_paths "${behind[@]}") $R/Ostravine.exe"

  rm -f "$install/Ostravine.exe.ran"
  run_row "an index release, the installation current" installed "$M"

  cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$install/Ostravine.exe" && rm -f "$install/Ostravine.exe.ran"
  printf 'old' >"$install/地图/北区/第7区.map"
  run_row "an index release, the target and one file changed" installed \
    "$M $I $(served_paths 地图/北区/第7区.map) $R/Ostravine.exe"

  for fault in "one byte changed" longer shorter "another version's"; do
    index_install_behind
    case $fault in
      "one byte changed") flip_byte "$index" 300 ;;
      longer) printf 'x' >>"$index" ;;
      shorter) truncate -s -1 "$index" ;;
      "another version's")
        index_release_files "$HARNESS_SCRATCH_DIR/other" 5
        "$publish" manifest "$HARNESS_SCRATCH_DIR/other" http://127.0.0.1:8081/v/1,0,0,4 "$HARNESS_SCRATCH_DIR/other.htm" >/dev/null
        cp "$HARNESS_SCRATCH_DIR/other.htm.index" "$index"
        ;;
    esac
    run_row "an index served $fault" refused "$M $I"
  done

  if [ "$mode" = signed ]; then
    index_install_behind
    flip_byte "$manifest" "$(($(offset_after "update_index=.index ") + 10))"
    run_row "one byte of the index line changed after signing" refused "$M"
  fi
fi

# A store: every file named by hash (release files, the index, the maps) copied once to
# o/<first two hex digits>/<sha256>, v/ removed so that nothing else can be served, and the store
# line put after update_url (after its expiry line when there is one); signed again in a key build.
to_store() {
  local file sum
  while IFS= read -r -d '' file; do
    sum=$(sha256sum <"$file" | cut -c1-64)
    mkdir -p "$www/o/${sum:0:2}" && cp "$file" "$www/o/${sum:0:2}/$sum"
  done < <(find "$www/v" -type f -print0)
  rm -rf "$www/v"
  python3 - "$manifest" "${1:-http://127.0.0.1:8081/o}" <<'PY'
import sys
path, store = sys.argv[1], sys.argv[2]
data = open(path, "rb").read()
at = data.index(b"\r\n", data.index(b"update_url=")) + 2
if data[at:].startswith(b"update_expires="):
    at = data.index(b"\r\n", at) + 2
open(path, "wb").write(data[:at] + b"update_store=" + store.encode() + b"\r\n" + data[at:])
PY
  if [ "$mode" = signed ]; then resign_manifest; fi
}
# The object path of each FILE in the store, in the order given.
object_of() {
  local file sum out=()
  for file; do
    sum=$(sha256sum <"$file" | cut -c1-64)
    out+=("/o/${sum:0:2}/$sum")
  done
  echo "${out[*]}"
}

# A store release with Chinese names installing byte for byte is publish_e2e's (nginx) and the
# store modes' (Varnish, Swift, signed or not); these rows are the store's refusals and its ranges.
if [[ "$mode" != *store ]]; then
  if [ "$mode" = signed ]; then
    index_install_behind
    to_store
    flip_byte "$manifest" "$(offset_after "update_store=http://127.0.0.1:8081/")"
    run_row "the store line changed after signing" refused "$M"
  else
    index_install_behind
    to_store "http://127.0.0.1:8081/o deltas"
    run_row "a store that needs a feature this updater does not know" refused "$M"

    # A block map from the store: the ranges go to the large file's object.
    fresh_release && with_large_file "$same" "$overwritten" && publish_release
    large_object=$(object_of "$release/data/large.pak")
    stored=$(object_of "$release/readme.txt" "$release/data/items.dat" "$www/v/1,0,0,4$(map_of)")
    stored="$stored $large_object $(object_of "$release/data/maps/east.map" "$release/Ostravine.exe")"
    to_store
    logged=$(wc -l <"$state/access.log")
    run_row "4 MiB with a map, from a store" installed "$M $stored"
    check "4 MiB with a map, from a store: ranges only" "bytes=2097152-2359295" "$(ranges_of "$logged" "$large_object")"
  fi
fi

# Packs (both builds): 199 small files and the target staged twice into a store that nginx serves
# at /o, 1,0,0,3 first, then 1,0,0,4 with three of the files changed, which go into a new pack with
# the target while the first pack stays. nginx's log holds each request with its Range and bytes.
if [[ "$mode" != *store ]]; then
  # packed_files FOLDER TARGET [changed]: the 200 files, three of them other bytes when changed.
  packed_files() {
    rm -rf "$1" && mkdir -p "$1/many" && cp "$2" "$1/Ostravine.exe"
    python3 - "$1/many" "${3:-}" <<'PY'
import random, sys
folder, changed = sys.argv[1], sys.argv[2] == "changed"
rng = random.Random(29)
for i in range(199):
    data = rng.randbytes(rng.randrange(2000, 16000))
    if changed and i in (17, 90, 150):
        data = data[::-1] + b"changed"
    open(f"{folder}/f{i:03}.dat", "wb").write(data)
PY
  }
  # The requests plan says the run makes, as nginx logs their paths, and the bytes of its downloads.
  packed_plan() {
    local out
    out=$("$publish" plan "$manifest" "$install" --web-root "$www" ${public_key:+--public-key "$public_key"} 2>/dev/null)
    {
      echo "$M"
      sed -n 's|^reads the entries from the index http://[^/]*||p' <<<"$out"
      sed -n 's|^entry [0-9]*: asks for .* of the pack http://[^/]*||p' <<<"$out"
    } | paste -sd' '
  }
  planned_bytes() {
    "$publish" plan "$manifest" "$install" --web-root "$www" ${public_key:+--public-key "$public_key"} 2>/dev/null |
      sed -n 's/^fetches in all: \([0-9]*\) bytes in [0-9]* requests$/\1/p'
  }
  # The body bytes nginx sent since line N of the log for the packs (every /o/ object but the index).
  pack_bytes() {
    local index
    index=$(sed -n 's/^update_index=.index \([0-9a-f]*\) .*/\1/p' "$manifest")
    tail -n +"$(($1 + 1))" "$log" | awk -F'\t' -v i="$index" '$1 ~ /^GET \/o\// && index($1, i) == 0 { n += $4 } END { print n + 0 }'
  }
  key_args=()
  [ "$mode" = signed ] && key_args=(--key "$keys/test-private.pem")
  [ "$mode" = signed ] && public_key=$(cat "$keys/test-public.txt")
  older="$HARNESS_SCRATCH_DIR/packed-older"
  rm -rf "${www:?}"/*
  packed_files "$older" "$HARNESS_STANDIN_DIR/standin-zh.exe"
  packed_files "$release" "$new_target" changed
  for folder in "$older" "$release"; do
    "$publish" stage "$folder" "$www" http://127.0.0.1:8081 "${key_args[@]}" --store >/dev/null || failures=$((failures + 1))
  done
  check "packs: the second release points into two packs" 2 \
    "$(grep -ao '^update_pack[0-9]*=[0-9a-f]*' "$www$(sed -n 's|^update_index=.index \([0-9a-f]*\) .*|/o/\1|p' "$manifest" | sed 's|/o/\(..\)|/o/\1/\1|')" | cut -d= -f2 | sort -u | wc -l)"
  bare_install() { rm -rf "$install" && mkdir -p "$install" && cp "$updater" "$install/Merovast.exe"; }

  bare_install && cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$install/Ostravine.exe"
  expected=$(packed_plan) said=$(planned_bytes) logged=$(wc -l <"$log")
  planned=0 run_row "a packed release of 200 files, installed whole" installed "$expected"
  check "a packed release of 200 files: plan says the bytes nginx sent" "$said" "$(pack_bytes "$logged")"

  bare_install && cp -a "$older/." "$install/"
  expected=$(packed_plan) said=$(planned_bytes) logged=$(wc -l <"$log")
  planned=0 run_row "a packed release, 3 of 200 files and the target changed" installed "$expected"
  check "3 of 200 changed: one request, for the new pack" 3 "$(wc -w <<<"$expected")"
  check "3 of 200 changed: plan says the bytes nginx sent" "$said" "$(pack_bytes "$logged")"

  # One byte of the new pack changed: its first file fails its hash and keeps its old bytes.
  bare_install && cp -a "$older/." "$install/"
  newest=$(sed 's/ /\n/g' <<<"$expected" | tail -n 1)
  flip_byte "$www$newest" 10
  planned=0 run_row "one byte of a pack changed" refused "$expected"
  flip_byte "$www$newest" 10
fi

# Store releases (modes store and signed-store, which run only these rows): staged with --store,
# pushed by deploy/push.sh into Swift, served by Varnish with deploy/varnish/merovast.vcl on 8081.
# The rows read Varnish's log.
[[ "$mode" == *store ]] || { [ "$failures" -eq 0 ]; exit; }
"$serve" stop "$state"
swift="$HARNESS_SCRATCH_DIR/swift" edge="$HARNESS_SCRATCH_DIR/varnish" far_edge="$HARNESS_SCRATCH_DIR/varnish-far"
trap '"$varnish" stop "$edge"; "$varnish" stop "$far_edge"; "$swift_servers" stop "$swift"' EXIT
started=$SECONDS
origin=$("$swift_servers" start "$swift") || exit 1
echo "Swift started in $((SECONDS - started)) s"
source "$swift/store.env"
export RCLONE_CONFIG
"$varnish" start "$origin" "$edge" 127.0.0.1:8081 || exit 1
log="$edge/access.log" server_name=Varnish settle=0.5 store=http://127.0.0.1:8081/o
# The requests plan says a run makes: the manifest, the index, then each download's map and object.
store_plan() {
  local out index base i sha
  out=$("$publish" plan "$manifest" "$install" --web-root "$www" ${public_key:+--public-key "$public_key"} 2>/dev/null)
  index=$(sed -n 's|^reads the entries from the index http://[^/]*||p' <<<"$out")
  base=${index%/*/*}
  {
    echo "$M"
    echo "$index"
    for i in $(sed -n 's/^entry \([0-9]*\): downloads .*/\1/p' <<<"$out"); do
      # A file's map comes before the file, whose hash line stands first in the index.
      for sha in $(sed -n "s/^update_map$i=[^ ]* \([0-9a-f]\{64\}\) .*/\1/p" "$www$index") \
        $(sed -n "s/^update_hash$i=\([0-9a-f]\{64\}\) .*/\1/p" "$www$index"); do
        echo "$base/${sha:0:2}/$sha"
      done
    done
  } | paste -sd' '
}
# run_row with the row's wall time after it.
timed_row() { local began=$SECONDS; run_row "$@"; echo "time: $1: $((SECONDS - began)) s"; }
swift_objects() { grep -c ' GET /v1/AUTH_merovast/releases/o/' "$swift/log/proxy.log"; }

if [ "$mode" = store ]; then
  fresh_release
  mkdir -p "$release/地图/北区"
  head -c 3000 /dev/urandom >"$release/地图/图1.dat"
  head -c 5000 /dev/urandom >"$release/地图/北区/第1区.map"
  publish_release
  check "the store in Swift holds ASCII names only" "" "$(rclone lsf -R --files-only "$STORE_REMOTE" | LC_ALL=C grep '[^ -~]')"
  timed_row "a store release of Chinese names, through Varnish from Swift" installed "$(store_plan)"

  fresh_install
  fetched=$(swift_objects) logged=$(wc -l <"$log")
  timed_row "a second installation of the store release" installed "$(store_plan)"
  check "a second installation: no object reached Swift" "$fetched" "$(swift_objects)"
  check "a second installation: Varnish answered every object from its cache" "" \
    "$(tail -n +"$((logged + 1))" "$log" | awk -F'\t' '$1 ~ /^GET \/o\// && $4 != "hit"')"

  fresh_release && with_large_file "$same" "$overwritten" && publish_release
  large=$(object_of "$release/data/large.pak") logged=$(wc -l <"$log")
  timed_row "a store release with a map, overwritten bytes" installed "$(store_plan)"
  check "a store release with a map: ranges only, each a 206" "bytes=2097152-2359295 206" \
    "$(tail -n +"$((logged + 1))" "$log" | awk -F'\t' -v p="GET $large HTTP/1.1" '$1 == p { print $NF, $2 }')"

  # Varnish holds the objects of the release installed last; the next one shares its target.
  fresh_release && publish_release
  timed_row "a new store release pushed while Varnish holds the last one's objects" installed "$(store_plan)"

  # The manifest on 8081, the store on another address and port.
  far=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.2", 0)); print(s.getsockname()[1])')
  "$varnish" start "$origin" "$far_edge" "127.0.0.2:$far" || exit 1
  store=http://127.0.0.2:$far/o
  fresh_release && publish_release
  expected=$(store_plan) logged=$(wc -l <"$far_edge/access.log")
  timed_row "a store on another host and port than the manifest" installed "$M"
  check "a store on another host and port: it served the rest" "${expected#"$M "}" \
    "$(log=$far_edge/access.log requests "$logged")"
  "$varnish" stop "$far_edge"
  store=http://127.0.0.1:8081/o
else
  public_key=$(cat "$keys/test-public.txt")
  fresh_release && publish_release --key "$keys/test-private.pem"
  # The signed rows refuse a store line changed after signing (served by nginx).
  timed_row "a signed store release" installed "$(store_plan)"
fi

[ "$failures" -eq 0 ]

