#!/usr/bin/env bash
# Releases go out the way a publisher ships them: `merovast-publish stage` copies a release
# with Chinese and spaced names into a web root and writes its manifest, nginx serves it with
# deploy/nginx/merovast.conf, and the updater under Wine brings installations up to it:
#   1. an installation of the older target gets the whole release and starts the new target;
#      a second run finds it current;
#   2. the same release staged again as a patch (--since the older release) takes an
#      installation of that older release to the new one, downloading only what changed;
#   3. the release staged into a store (--store) installs from its objects alone, and with
#      --folders an updater that predates the store line (the manifest without it) installs it
#      from the version folder.
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
# "PATH SHA-256" of every file below a folder, sorted by path. Wine stores the names it is
# given in code page 936 as UTF-8, so an installation compares with the release as it is.
tree_sums() { (cd "$1" && find . -type f -printf '%P\n' | xargs -r -d '\n' sha256sum | sed -E 's/^([0-9a-f]+)  (.*)$/\2 \1/' | LC_ALL=C sort); }
with_updater() { { tree_sums "$1"; printf 'Merovast.exe %s\n' "$(sha256sum <"$updater" | cut -d' ' -f1)"; } | LC_ALL=C sort; }

scratch=$HARNESS_SCRATCH_DIR
www="$scratch/www" state="$scratch/nginx" base="$scratch/base" release="$scratch/release"
# The older release, as installed in the field.
mkdir -p "$base/地图" "$base/data" "$www"
cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$base/Ostravine.exe"
printf '说明 1.0.0.3\r\n' >"$base/说明.txt"
head -c 200000 /dev/urandom >"$base/data/items.dat"
printf 'east 3' >"$base/地图/东.map"
seq 1 5000 >"$base/地图/west map.dat"
printf 'gone' >"$base/old.txt"
# The new one: the target, 东.map changed, two new names at the top (a space; 乗 = GBK 81 5C,
# whose trail byte is a backslash), the rest as before.
mkdir -p "$release"
cp -r "$base/说明.txt" "$base/data" "$base/地图" "$release/"
cp "$new_target" "$release/Ostravine.exe"
printf 'east 4\0\r\n\xff' >"$release/地图/东.map"
printf 'map one' >"$release/地图 1.map"
printf 'jou' >"$release/乗.txt"

stage() {  # stage ARGS...: stages the release into $www, output in $scratch/stage.out/.err
  "$publish" stage "$release" "$www" http://127.0.0.1:8081 "$@" >"$scratch/stage.out" 2>"$scratch/stage.err"
  local rc=$?
  cat "$scratch/stage.out" "$scratch/stage.err"
  return $rc
}
stage || exit 1

# The controller keeps 8081 for this test and leaves it free; nginx takes it.
server_ctl mode name=down >/dev/null || exit 1
trap '"$serve" stop "$state"' EXIT
"$serve" start "$www" "$state" 8081 || exit 1

requests_since() {  # requests_since LINE: request lines and statuses nginx logged after LINE
  sleep 0.1  # nginx logs a request just after its last byte went out
  tail -n +"$(($1 + 1))" "$state/access.log" | cut -f1,2
}
expect_requests() {  # expect_requests PATH...: the manifest, then each path below /v/1,0,0,4, all 200
  printf 'GET /update_go/update.htm HTTP/1.1\t200\n'
  for path in "$@"; do printf 'GET /v/1,0,0,4/%s HTTP/1.1\t200\n' "$path"; done
}
update() {  # update FOLDER RUNS: runs its updater, waits for the target to have started RUNS times
  local rc=0
  wine_run 30 "$1/Merovast.exe" || rc=$?
  check "the updater ends by itself" 0 "$rc"
  for _ in $(seq 300); do [ "$(wc -l 2>/dev/null <"$1/Ostravine.exe.ran")" = "$2" ] && break; sleep 0.05; done
  check "the target was started ($2)" "$2" "$(wc -l 2>/dev/null <"$1/Ostravine.exe.ran")"
}

# --- 1. an installation of 1,0,0,3 gets the whole release ---
install="$scratch/install"
mkdir -p "$install/data"
cp "$updater" "$install/Merovast.exe"
cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$install/Ostravine.exe"
printf 'items of 1.0.0.3' >"$install/data/items.dat"
update "$install" 1
check "the install folder holds the release byte for byte under its names, the updater and the marker" \
  "$({ with_updater "$release"; printf 'Ostravine.exe.ran %s\n' "$(sha256sum <"$install/Ostravine.exe.ran" | cut -d' ' -f1)"; } | LC_ALL=C sort)" \
  "$(tree_sums "$install")"
# nginx logs the bytes of a request line that are not printable as \xXX.
check "WinINet sent GBK bytes as they are and a space as %20; folders before subfolders, the target last" \
  "$(expect_requests '\x81\x5C.txt' '\xB5\xD8\xCD\xBC%201.map' '\xCB\xB5\xC3\xF7.txt' data/items.dat \
    '\xB5\xD8\xCD\xBC/west%20map.dat' '\xB5\xD8\xCD\xBC/\xB6\xAB.map' Ostravine.exe)" "$(requests_since 0)"

logged=$(wc -l <"$state/access.log")
before=$(tree_sums "$install" | grep -v '^Ostravine.exe.ran ')
update "$install" 2
check "a second run asks for the manifest only" "$(expect_requests)" "$(requests_since "$logged")"
check "and changes no file" "$before" "$(tree_sums "$install" | grep -v '^Ostravine.exe.ran ')"

# --- 2. the same version staged as a patch since 1,0,0,3 ---
stage --since "$base" || failures=$((failures + 1))
check "staging the same bytes again copies nothing" 1 "$(grep -c 'nothing copied' "$scratch/stage.out")"
check "the patch reports the file the updater leaves behind" \
  "merovast-publish: old.txt: removed since $base; the updater leaves it in installations" "$(cat "$scratch/stage.err")"
patched="$scratch/patched"
cp -r "$base" "$patched"
cp "$updater" "$patched/Merovast.exe"
logged=$(wc -l <"$state/access.log")
update "$patched" 1
check "an installation of 1,0,0,3 now holds the new release byte for byte, and the file it removed" \
  "$({ with_updater "$release"; printf 'old.txt %s\n' "$(sha256sum <"$base/old.txt" | cut -d' ' -f1)"; printf 'Ostravine.exe.ran %s\n' "$(sha256sum <"$patched/Ostravine.exe.ran" | cut -d' ' -f1)"; } | LC_ALL=C sort)" \
  "$(tree_sums "$patched")"
check "only the changed files were downloaded" \
  "$(expect_requests '\x81\x5C.txt' '\xB5\xD8\xCD\xBC%201.map' '\xB5\xD8\xCD\xBC/\xB6\xAB.map' Ostravine.exe)" \
  "$(requests_since "$logged")"

# --- 3. the release in a store, fetched by SHA-256 under ASCII names ---
# GET lines of the objects of release FILES, in the order given.
objects() {
  local file sum
  for file; do
    sum=$(sha256sum <"$release/$file" | cut -c1-64)
    printf 'GET /o/%s/%s HTTP/1.1\t200\n' "${sum:0:2}" "$sum"
  done
}
fresh_install() {  # fresh_install FOLDER: an installation of 1,0,0,3
  rm -rf "$1" && mkdir -p "$1/data"
  cp "$updater" "$1/Merovast.exe"
  cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$1/Ostravine.exe"
  printf 'items of 1.0.0.3' >"$1/data/items.dat"
}
in_order=(乗.txt '地图 1.map' 说明.txt data/items.dat '地图/west map.dat' 地图/东.map Ostravine.exe)
for folders in "" --folders; do
  stored="$scratch/www-store$folders"
  "$publish" stage "$release" "$stored" http://127.0.0.1:8081 --no-packs --store $folders >/dev/null || failures=$((failures + 1))
  "$serve" start "$stored" "$state" 8081 || exit 1
  install="$scratch/install-store$folders"
  fresh_install "$install"
  if [ -z "$folders" ]; then
    check "the store's web root holds ASCII names only" "" "$(cd "$stored" && find . | LC_ALL=C grep -a '[^ -~]')"
    update "$install" 1
    index_sum=$(sed -n 's/^update_index=.index \([0-9a-f]*\) .*/\1/p' "$stored/update_go/update.htm")
    check "a store release: the manifest, then the index and every file from the store, by SHA-256" \
      "$(expect_requests)
GET /o/${index_sum:0:2}/$index_sum HTTP/1.1	200
$(objects "${in_order[@]}")" "$(requests_since 0)"
  else
    # The updater built before the store line (older/Merovast.exe) installs it from the version
    # folder, as this one does on the manifest without the line, which it reads as text to ignore.
    older="$scratch/install-older"
    fresh_install "$older" && cp "$(dirname "$0")/older/Merovast.exe" "$older/Merovast.exe"
    update "$older" 1
    check "a store release with --folders, met by the updater built before the store line: installed" \
      "$({ tree_sums "$release"; printf 'Ostravine.exe.ran %s\n' "$(sha256sum <"$older/Ostravine.exe.ran" | cut -d' ' -f1)"; } | LC_ALL=C sort)" \
      "$(tree_sums "$older" | grep -v '^Merovast.exe ')"
    "$serve" start "$stored" "$state" 8081 || exit 1  # a new log for the rows below
    sed -i '/^update_store=/d' "$stored/update_go/update.htm"
    update "$install" 1
    check "a store release with --folders, met by an updater without the store line: from the version folder" \
      "$(expect_requests '\x81\x5C.txt' '\xB5\xD8\xCD\xBC%201.map' '\xCB\xB5\xC3\xF7.txt' data/items.dat \
        '\xB5\xD8\xCD\xBC/west%20map.dat' '\xB5\xD8\xCD\xBC/\xB6\xAB.map' Ostravine.exe)" "$(requests_since 0)"
  fi
  check "the installation holds the release byte for byte ($stored)" \
    "$({ with_updater "$release"; printf 'Ostravine.exe.ran %s\n' "$(sha256sum <"$install/Ostravine.exe.ran" | cut -d' ' -f1)"; } | LC_ALL=C sort)" \
    "$(tree_sums "$install")"
done

[ "$failures" -eq 0 ]
