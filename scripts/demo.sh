#!/usr/bin/env bash
# The updater at work on this machine (make demo). It goes the publisher's way: makes a signing
# key (once), builds the updater with its public key, stages a signed sample release into a
# store with merovast-publish, serves it with nginx and deploy/nginx/merovast.conf on
# 127.0.0.1:8081, and runs the 64-bit updater under Wine twice on one installation of the older target: the first
# run brings it up to the release, the second finds it current. What happened is judged from
# the disk and from nginx's log.
#
# The tools come from the native preset's tree (build/native), the keyed updater from its own
# tree beside the presets' (build/win64-demo). Everything else lives in build/demo: the key
# (publisher.pem), the served tree (www), the installation (install, made afresh by every demo),
# a Wine prefix made like the tests' one, each run's checksums and screenshots (run-1, run-2) and
# the screenshot of the progress window. Whatever the demo starts is stopped when it ends; when
# it fails, it says at which step or which of its checks.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-cache.sh
repo=$PWD
demo=$repo/build/demo
www=$demo/www install=$demo/install nginx_state=$demo/nginx release=$demo/release key=$demo/publisher.pem
picture=$demo/progress-window.png
win64=$repo/build/win64-demo

step="starting"
say() { step=$*; printf '\n== %s\n' "$*"; }
cleanup() { :; }
# Whatever stops the demo early names the step it was at; the checks at the end name themselves.
finish() {
  local rc=$?
  cleanup
  [ "$rc" -eq 0 ] || echo "demo: FAILED (exit status $rc) at: $step" >&2
}
trap finish EXIT
quietly() {  # quietly LOG COMMAND...: runs COMMAND, shows its output only when it fails
  "${@:2}" >>"$1" 2>&1 || { tail -n 30 "$1" >&2; echo "demo: failed: ${*:2} (log: $1)" >&2; return 1; }
}

say "Installing what is missing (scripts/install-deps.sh)"
scripts/install-deps.sh
mkdir -p "$demo"
rm -f "$demo"/build-*.log

say "Building merovast-publish (host, the native preset: build/native)"
quietly "$demo/build-native.log" cmake --preset native
quietly "$demo/build-native.log" cmake --build --preset native --target merovast-publish pe-version
publish=$repo/build/native/tools/publisher/merovast-publish

say "Once: the publisher's signing key ($key)"
[ -f "$key.pub" ] || "$publish" keygen "$key" >"$key.pub"
echo "public key: $(cat "$key.pub")"

say "Building Merovast.exe with that public key, and the stand-in targets (64-bit Windows: build/win64-demo)"
# Beside the presets' trees, so that it shares their compiled files and compiles only its keys.
quietly "$demo/build-win64.log" cmake -S . -B "$win64" -G Ninja --toolchain "$repo/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATE_PUBLIC_KEY="$(cat "$key.pub")"
quietly "$demo/build-win64.log" cmake --build "$win64" -j2 --target Merovast standin-zh standin-next
pe_version=$repo/build/native/pe/pe-version
updater=$win64/app/Merovast.exe
old_target=$win64/tests/standin/bin/standin-zh.exe
new_target=$win64/tests/publish_e2e/bin/standin-next.exe
echo "built: $publish, $updater"

say "Staging the signed release 1,0,0,4 from $release into $www"
rm -rf "$www" "$release"
mkdir -p "$www" "$release/data/maps" "$release/地图"
cp "$new_target" "$release/Ostravine.exe"
printf 'Ostravine 1.0.0.4\r\n' >"$release/data/readme.txt"
/usr/bin/python3 -c 'import random, sys; random.seed(4); sys.stdout.buffer.write(random.randbytes(4000000))' \
  >"$release/data/items.dat"
seq 1 20000 >"$release/data/maps/east.map"
seq 20000 -1 1 >"$release/data/maps/west.map"
printf '北区 1\r\n' >"$release/地图/北区 1.map"
"$publish" stage "$release" "$www" http://127.0.0.1:8081 --key "$key" --store | sed 's/^/    /'
echo "manifest $www/update_go/update.htm (CR LF shown as ⏎):"
sed 's/\r$/⏎/; s/^/    /' "$www/update_go/update.htm"
echo "the store $www/o (every file, the index and the map once, by SHA-256) and the release's record:"
(cd "$www" && find o releases -type f -printf '%10s  %p\n' | LC_ALL=C sort -k2 | sed 's/^/    /')
echo "merovast-publish check --public-key ... --web-root ... --release ... says:"
"$publish" check "$www/update_go/update.htm" --public-key "$(cat "$key.pub")" --web-root "$www" --release "$release" |
  iconv -f GBK -t UTF-8 | sed 's/^/    /'

items_object=$(sha256sum <"$release/data/items.dat" | cut -c1-64)

say "Starting Xvfb, a Wine prefix (build/demo/harness) and nginx on 127.0.0.1:8081"
export HARNESS_DIR=$demo/harness
cleanup() {
  "$repo/deploy/nginx/serve.sh" stop "$nginx_state" || true
  bash "$repo/tests/wine/harness.sh" cleanup >/dev/null 2>&1 || true
}
trap 'exit 130' INT TERM
bash tests/wine/harness.sh setup
source tests/wine/wine-env.sh
# The tests' update-server controller is the machine-wide lock on 8081: it waits for a test
# run that holds it, then leaves 8081 to our nginx.
server_start 600
server_ctl mode name=down >/dev/null
SERVE_LOG_BYTES=1 SERVE_LOG_RANGE=1 "$repo/deploy/nginx/serve.sh" start "$www" "$nginx_state" 8081 ||
  { echo "demo: nginx could not listen on 127.0.0.1:8081 (is something else there?)" >&2; exit 1; }
echo "serving $www with $nginx_state/merovast.conf"

say "Preparing the installation of 1,0,0,3: $install"
rm -rf "$install"
mkdir -p "$install/data"
cp "$updater" "$install/Merovast.exe"
cp "$old_target" "$install/Ostravine.exe"
printf 'Ostravine 1.0.0.3\r\n' >"$install/data/readme.txt"
printf 'volume=7\r\n' >"$install/data/settings.ini"
# 1,0,0,3's copy of the 4 MB items.dat: 1,0,0,4 changes a few of its bytes. Its block map lets the
# update fetch only the blocks that hold them.
/usr/bin/python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[2000000:2000010] = b"1.0.0.3 .."
sys.stdout.buffer.write(b)' "$release/data/items.dat" >"$install/data/items.dat"
echo "Ostravine.exe reads as version $("$pe_version" "$install/Ostravine.exe")"

sums() { (cd "$install" && find . -type f ! -name Ostravine.exe.ran -printf '%P\n' | LC_ALL=C sort | xargs -r -d '\n' sha256sum); }
starts() { if [ -f "$install/Ostravine.exe.ran" ]; then wc -l <"$install/Ostravine.exe.ran"; else echo 0; fi; }

# Compares two "SHA-256  PATH" lists; prints one line per file and the number of changes last.
# Paths may hold spaces: the lists are joined on everything after the checksum.
report_changes() {
  local tabbed='{ sum = $1; sub(/^[^ ]+  /, ""); print $0 "\t" sum }'
  LC_ALL=C join -t $'\t' -a 1 -a 2 -e - -o 0,1.2,2.2 <(awk "$tabbed" "$1" | LC_ALL=C sort) \
    <(awk "$tabbed" "$2" | LC_ALL=C sort) |
    awk -F '\t' '{ state = $2 == $3 ? "unchanged" : $2 == "-" ? "new" : $3 == "-" ? "removed" : "changed"
           if (state != "unchanged") changes++
           printf "    %-9s  %-22s %.12s -> %.12s\n", state, $1, $2, $3 }
         END { print changes + 0 }'
}

# run_updater RUN_DIR: runs Merovast.exe, taking screenshots into RUN_DIR/shots while it is up;
# reports from the disk.
run_updater() {
  local run=$1 before_starts logged rc=0 i=0 out
  rm -rf "$run"
  mkdir -p "$run/shots"
  sums >"$run/before.sums"
  before_starts=$(starts)
  logged=$(wc -l <"$nginx_state/access.log")
  wine_start 60 "$install/Merovast.exe"
  # As fast as import goes; an error box that stays up needs no more than the first hundred.
  while kill -0 "$WINE_STARTED_PID" 2>/dev/null; do
    if [ "$i" -lt 100 ]; then import -window root "$run/shots/$(printf %03d "$i").png" 2>/dev/null || true; else sleep 0.1; fi
    i=$((i + 1))
  done
  wait "$WINE_STARTED_PID" || rc=$?
  [ "$rc" -eq 124 ] && echo "the updater did not end within 60 s (an error box?)"
  # The target starts on its own after the updater has gone.
  for i in $(seq 200); do [ "$(starts)" -gt "$before_starts" ] && break; sleep 0.05; done
  sleep 0.1
  sums >"$run/after.sums"
  echo "files of the installation, SHA-256 before -> after:"
  out=$(report_changes "$run/before.sums" "$run/after.sums")
  changes=$(tail -n 1 <<<"$out")
  head -n -1 <<<"$out"
  echo "Ostravine.exe reads as version $("$pe_version" "$install/Ostravine.exe")"
  if [ "$(starts)" -gt "$before_starts" ]; then
    started=yes
    echo "the target was started: Ostravine.exe.ran has $(starts) line(s)"
  else
    started=no
    echo "the target was NOT started"
  fi
  echo "nginx saw (request, status, body bytes, Range):"
  tail -n +"$((logged + 1))" "$nginx_state/access.log" | cut -f1,2,4,5 | sed 's/^/    /'
  echo "    in all $(tail -n +"$((logged + 1))" "$nginx_state/access.log" | awk -F'\t' '{ n += $4 } END { print n + 0 }') body bytes," \
    "of which items.dat's $(tail -n +"$((logged + 1))" "$nginx_state/access.log" | awk -F'\t' -v o="$items_object" 'index($1, o) { n += $4 } END { print n + 0 }') of its $(stat -c %s "$release/data/items.dat")"
}

# Keeps the first screenshot of RUN_DIR whose middle shows the window's dark notice on its
# light face (the window is centred on the 1024x768 screen); says how many showed it.
keep_window_shot() {
  local shot darkest lightest showing=0 taken=0
  rm -f "$picture"
  for shot in "$1"/shots/*.png; do
    [ -s "$shot" ] || continue
    taken=$((taken + 1))
    read -r darkest lightest < <(convert "$shot" -crop 200x16+412+376 -colorspace Gray \
      -format '%[fx:minima] %[fx:maxima]\n' info: 2>/dev/null) || continue
    if awk -v d="$darkest" -v l="$lightest" 'BEGIN { exit !(d < 0.4 && l > 0.8) }'; then
      showing=$((showing + 1))
      [ -f "$picture" ] || cp "$shot" "$picture"
    fi
  done
  echo "$showing of $taken screenshots taken while the updater ran show the progress window; the first: $picture"
  [ "$showing" -gt 0 ]
}

failed=()
say "First run of Merovast.exe: the installation is out of date"
run_updater "$demo/run-1"
keep_window_shot "$demo/run-1" || failed+=("no screenshot of the first run shows the progress window")
expected=$( (cd "$release" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs -r -d '\n' sha256sum) )
# A release that carries a new updater leaves the old one aside, as Merovast.exe.old, until the next run.
if [ "$(grep -v -e ' Merovast.exe$' -e ' Merovast.exe.old$' -e ' data/settings.ini$' "$demo/run-1/after.sums")" = "$expected" ] && [ "$started" = yes ]; then
  echo "=> updated: $changes file(s) changed or new, the installation now holds release 1,0,0,4 byte for byte, and the target was started"
else
  echo "=> FAILED: the installation does not hold the release, or the target was not started"
  failed+=("the first run did not install release 1,0,0,4 and start the target")
fi

say "Second run of Merovast.exe on the same installation, now current"
run_updater "$demo/run-2"
if [ "$changes" -eq 0 ] && [ "$started" = yes ]; then
  echo "=> the installation is up to date: nothing changed, the target was started"
else
  echo "=> FAILED: the second run changed $changes file(s), target started: $started"
  failed+=("the second run changed files or did not start the target")
fi

say "Done"
echo "installation: $install"
echo "screenshot:   $picture"
for check in "${failed[@]}"; do echo "demo: FAILED: $check" >&2; done
step="its checks (${#failed[@]} failed)"
[ "${#failed[@]}" -eq 0 ]
