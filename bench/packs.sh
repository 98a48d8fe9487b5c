# The 5,000-file release in a store, packed and unpacked, met through bench/latency_proxy.py, which
# adds a round trip to each connection and each answer on 127.0.0.1:8081 in front of nginx on 8090.
# Sourced by bench/run.sh --packs after the builds; one run of each row (figures of one run each):
#   (p) a full install of the thousands set from a store with packs and without them, and of one
#       file of the same bytes, at round trips of 0, 30 and 100 ms
#   (q) an update in which 50 of the 5,000 files and the target changed (a second release staged
#       into the packed store): wall time, and the requests and bytes nginx sent against plan's
#   (r) the store's size after ten releases that each change 1 % of the files, against one release
proxy_pid=
behind_port=8090
target_wait=90  # Wine starts the target slowly on a busy machine
# PACKS_RTTS and PACKS_KINDS choose fewer rows of (p): the unpacked install at 100 ms alone takes
# about 17 minutes.
read -r -a rtts <<<"${PACKS_RTTS:-0 30 100}"
read -r -a kinds <<<"${PACKS_KINDS:-packed onefile unpacked}"

stop_proxy() {
  if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; fi
  proxy_pid=
}
# serve_behind ROOT RTT_MS: nginx serves ROOT on 8090, the proxy with that round trip on 8081.
serve_behind() {
  stop_proxy
  "$repo/deploy/nginx/serve.sh" stop "$nginx_state" || true
  SERVE_LOG_BYTES=1 "$repo/deploy/nginx/serve.sh" start "$1" "$nginx_state" "$behind_port" ||
    fail "nginx could not listen on 127.0.0.1:$behind_port"
  python3 "$repo/bench/latency_proxy.py" 8081 "$behind_port" "$2" >"$bench/proxy.out" 2>&1 &
  proxy_pid=$!
  local i
  for i in $(seq 100); do grep -q ready "$bench/proxy.out" && return 0; sleep 0.05; done
  fail "the latency proxy did not start"
}
# stage_store FOLDER WEB_ROOT [OPTION...]: FOLDER staged into WEB_ROOT's store, checked.
stage_store() {
  "$publish" stage "$1" "$2" "$url_base" "${@:3}" --store >"$bench/stage.out" 2>&1 ||
    { cat "$bench/stage.out" >&2; fail "stage refused $1"; }
  "$publish" check "$2/update_go/update.htm" --web-root "$2" >/dev/null 2>&1 || fail "check finds fault with $2"
}
# fresh_install FOLDER: the updater and a target one byte longer than the release's.
fresh_install() {
  rm -rf "$install" && mkdir -p "$install"
  cp "$updater" "$install/Merovast.exe"
  cp "$1/Ostravine.exe" "$install/" && printf '\0' >>"$install/Ostravine.exe"
}
# same_as FOLDER: the installation holds every file of FOLDER byte for byte.
same_as() {
  (cd "$1" && find . -type f -print0) | while IFS= read -r -d '' file; do
    cmp -s "$1/$file" "$install/$file" || fail "$install/$file is not the release's"
  done
}
# install_run NAME FOLDER: one timed run of the installation's updater, which must leave FOLDER.
install_run() {
  measure "$1" "${wine_line[@]}" "$install/Merovast.exe"
  target_done "$install"
  same_as "$2"
}
# changed_release FROM TO PERCENT SEED: a copy of FROM with PERCENT % of its other files and the
# target changed (the target one byte longer, so that it is no longer current).
changed_release() {
  rm -rf "$2" && cp -a "$1" "$2"
  printf '\0' >>"$2/Ostravine.exe"
  python3 - "$2" "$3" "$4" <<'PY'
import os, random, sys
root, percent, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
files = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs if f != "Ostravine.exe")
rng = random.Random(seed)
for path in rng.sample(files, len(files) * percent // 100):
    size = os.path.getsize(path)
    open(path, "wb").write(rng.randbytes(size))
PY
}

thousands=$(release_dir thousands) onefile=$(release_dir onefile) install=$bench/install/packs
say "Staging the thousands set into stores with packs and without, and one file of the same bytes"
rm -rf "$bench/releases" "$bench/www" "$bench/install"
mkdir -p "$bench/www"
make_thousands
mkdir -p "$onefile/data"
cp "$thousands/Ostravine.exe" "$onefile/"
find "$thousands" -type f ! -name Ostravine.exe -print0 | sort -z | xargs -0 cat >"$onefile/data/all.bin"
started=$SECONDS
stage_store "$thousands" "$bench/www/packed"
echo "  packed: $(grep '^packed' "$bench/stage.out"); staged in $((SECONDS - started)) s"
stage_store "$thousands" "$bench/www/unpacked" --no-packs
stage_store "$onefile" "$bench/www/onefile"
bytes=$(du -sb --exclude=Ostravine.exe "$thousands" | cut -f1)
echo "  thousands: $(find "$thousands" -type f | wc -l) files, $bytes bytes"

say "Starting Xvfb and a Wine prefix (build/bench/harness)"
export HARNESS_DIR=$bench/harness
cleanup() {
  stop_proxy
  release_port
  bash "$repo/tests/wine/harness.sh" cleanup >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM
wine_prefix 1800 "$bench/samples-packs.tsv"
rep=1

say "(p) full installs through the latency proxy (load average before: $(cut -d' ' -f1-3 /proc/loadavg))"
take_port
for rtt in "${rtts[@]}"; do
  for kind in "${kinds[@]}"; do
    folder=$thousands
    [ "$kind" = onefile ] && folder=$onefile
    serve_behind "$bench/www/$kind" "$rtt"
    fresh_install "$folder"
    before=$(logged)
    install_run "full.$kind.$rtt" "$folder"
    sleep 0.2
    echo "  $kind at $rtt ms: $(awk -F'\t' -v n="full.$kind.$rtt" '$1 == n { printf "%.2f s", $3 / 1e6 }' "$samples")," \
      "$(tail -n +"$((before + 1))" "$nginx_state/access.log" | wc -l) requests"
  done
done

say "(q) 50 of the 5,000 files and the target changed, packed, at 0 ms"
changed_release "$thousands" "$bench/releases/changed" 1 50
stage_store "$bench/releases/changed" "$bench/www/packed"
echo "  $(grep '^packed' "$bench/stage.out")"
serve_behind "$bench/www/packed" 0
fresh_install "$thousands" && cp -a "$thousands/." "$install/"
said=$("$publish" plan "$bench/www/packed/update_go/update.htm" "$install" --web-root "$bench/www/packed" | grep '^fetches in all')
before=$(logged)
install_run changed.packed.0 "$bench/releases/changed"
sleep 0.2
echo "  plan: $said"
tail -n +"$((before + 1))" "$nginx_state/access.log" | awk -F'\t' '{ n += $4 } END { printf "  nginx: %d bytes in %d requests (the manifest and the index included)\n", n, NR }'
changed_bytes=$({ diff -rq "$thousands" "$bench/releases/changed" || true; } | awk '{ print $4 }' | xargs stat -c %s | awk '{ n += $1 } END { print n }')
echo "  the changed files' bytes: $changed_bytes"
stop_proxy
release_port

say "(r) the store over ten releases that change 1 % of the files each, with packs"
growth=$bench/www/growth
stage_store "$thousands" "$growth"
first=$(du -sb "$growth/o" | cut -f1)
previous=$thousands
for i in $(seq 1 10); do
  changed_release "$previous" "$bench/releases/r$i" 1 "$((100 + i))"
  stage_store "$bench/releases/r$i" "$growth"
  previous=$bench/releases/r$i
done
last=$(du -sb "$growth/o" | cut -f1)
echo "  one release: $first bytes; after ten more: $last bytes: $(python3 -c "print(f'{$last / $first:.3f}')") x"
echo "  load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
