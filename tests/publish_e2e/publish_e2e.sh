#!/usr/bin/env bash
# A release goes out the way a publisher ships it: merovast-publish writes the manifest, nginx
# serves it with deploy/nginx/merovast.conf, and the updater brings an installation of the
# older target up to it and starts the new target; a second run finds it current.
#   publish_e2e.sh MEROVAST_PUBLISH MEROVAST_EXE NEW_TARGET_EXE
set -uo pipefail
source "$(dirname "$0")/../wine/wine-env.sh"
publish=$1 updater=$2 new_target=$3
serve="$(dirname "$0")/../../deploy/nginx/serve.sh"

if [ ! -x "$publish" ]; then
  echo "FAILED: $publish is missing: build the host configuration first (cmake --preset native && cmake --build --preset native)"
  exit 1
fi

failures=0
check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
# "PATH SHA-256" of every file below a folder, sorted by path.
tree_sums() { (cd "$1" && find . -type f -printf '%P\n' | xargs -r -d '\n' sha256sum | awk '{ print $2, $1 }' | LC_ALL=C sort); }

www="$HARNESS_SCRATCH_DIR/www" install="$HARNESS_SCRATCH_DIR/install" state="$HARNESS_SCRATCH_DIR/nginx"
release="$www/release"
mkdir -p "$release/data/maps" "$www/update_go" "$install/data"
cp "$new_target" "$release/Ostravine.exe"
head -c 200000 /dev/urandom >"$release/data/items.dat"
printf 'Ostravine 1.0.0.4\r\n' >"$release/readme.txt"
seq 1 5000 >"$release/data/maps/east.map"
printf 'west\0map\r\n\xff' >"$release/data/maps/west.map"
: >"$release/data/empty.cfg"
"$publish" manifest "$release" http://127.0.0.1:8081/release "$www/update_go/update.htm" || exit 1

# The controller keeps 8081 for this test and leaves it free; nginx takes it.
server_ctl mode name=down >/dev/null || exit 1
trap '"$serve" stop "$state"' EXIT
"$serve" start "$www" "$state" 8081 || exit 1

cp "$updater" "$install/Merovast.exe"
cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$install/Ostravine.exe"
printf 'items of 1.0.0.3' >"$install/data/items.dat"

requests_since() {  # requests_since LINE: request lines and statuses nginx logged after LINE
  sleep 0.1  # nginx logs a request just after its last byte went out
  tail -n +"$(($1 + 1))" "$state/access.log" | cut -f1,2
}

# --- an installation of 1,0,0,3 ---
rc=0; wine_run 30 "$install/Merovast.exe" || rc=$?
check "the updater ends by itself" 0 "$rc"
wait_for_file 15 "$install/Ostravine.exe.ran" || failures=$((failures + 1))
check "the new target was started" 1 "$(wc -l <"$install/Ostravine.exe.ran" 2>/dev/null)"
check "the install folder holds the release byte for byte, the updater and the marker" \
  "$({ tree_sums "$release"; cd "$install" && sha256sum Merovast.exe Ostravine.exe.ran | awk '{ print $2, $1 }'; } | LC_ALL=C sort)" \
  "$(tree_sums "$install")"
check "nginx saw the manifest, then every file in the manifest's order, the target last" "$(printf '%s\t200\n' \
  'GET /update_go/update.htm HTTP/1.1' \
  'GET /release/readme.txt HTTP/1.1' \
  'GET /release/data/empty.cfg HTTP/1.1' \
  'GET /release/data/items.dat HTTP/1.1' \
  'GET /release/data/maps/east.map HTTP/1.1' \
  'GET /release/data/maps/west.map HTTP/1.1' \
  'GET /release/Ostravine.exe HTTP/1.1')" "$(requests_since 0)"

# --- the same installation again: current ---
logged=$(wc -l <"$state/access.log")
before=$(tree_sums "$install" | grep -v '^Ostravine.exe.ran ')
rc=0; wine_run 30 "$install/Merovast.exe" || rc=$?
check "the second run ends by itself" 0 "$rc"
for _ in $(seq 300); do [ "$(wc -l <"$install/Ostravine.exe.ran")" -ge 2 ] && break; sleep 0.05; done
check "the target was started again" 2 "$(wc -l <"$install/Ostravine.exe.ran")"
check "nothing was downloaded: only the manifest was asked for" \
  "$(printf 'GET /update_go/update.htm HTTP/1.1\t200')" "$(requests_since "$logged")"
check "no file changed" "$before" "$(tree_sums "$install" | grep -v '^Ostravine.exe.ran ')"

[ "$failures" -eq 0 ]
