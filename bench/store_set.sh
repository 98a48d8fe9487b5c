# Ten releases of the 5,000-file set in a store and in folders; sourced by bench/run.sh when given
# --store-set, after the builds. Release 1 is the set of bench/index_set.sh; each later one
# rewrites 1 % of its files (50, drawn from a fixed seed) and raises the target's version. Each is
# staged twice, one after the other, as a publisher would:
#   folders  merovast-publish stage: every release whole under WEB_ROOT/v/<version>/ (and its index)
#   store    merovast-publish stage --store --no-packs: each file, index and map once under WEB_ROOT/o/,
#            one object a file, so that both serve the same requests (bench/packs.sh has the packs)
# Printed: both web roots' apparent size against one release's bytes, the stage time of each
# release, then `prune --keep 3` of the store (its time and the bytes it freed). Then, per
# repetition, the updater against the tenth release: a full update and an update in which the
# target and one other file changed, from the folders through nginx, and from the store pushed by
# deploy/push.sh into Swift and served by Varnish (deploy/varnish/serve.sh) with an empty cache
# (cold) and again (warm); the requests, the body bytes and, for Varnish, its cache hits.

releases=10
source "$repo/bench/report.sh" --functions-only
rm -f "$bench/stage.log" "$bench/check.log" "$bench/prune.log" "$bench/push.log"

# next_release N: rewrites 50 of the release's files other than the target (sizes kept) and
# sets the target's FileVersion to 2, 0, 0, N (2, 0, 1, 0 for the tenth; the same length).
next_release() {
  python3 - "$(release_dir thousands)" "$1" <<'PY'
import os, random, sys
root, n = sys.argv[1], int(sys.argv[2])
files = sorted(os.path.relpath(os.path.join(d, f), root) for d, _, names in os.walk(root) for f in names)
rng = random.Random(100 + n)
for name in rng.sample([f for f in files if f != "Ostravine.exe"], 50):
    path = os.path.join(root, name)
    size = os.path.getsize(path)
    with open(path, "wb") as out:
        out.write(rng.randbytes(size))
version = "2, 0, 0, 1" if n == 1 else "2, 0, %d, %d" % divmod(n, 10)
target = os.path.join(root, "Ostravine.exe")
data = open(target, "rb").read()
old = data[data.index("FileVersion".encode("utf-16-le")):]
at = len(data) - len(old) + old.index(b"2\0,\0 \0")
data = data[:at] + version.encode("utf-16-le") + data[at + 20:]
open(target, "wb").write(data)
PY
}

# store_plan: the plan of the release as it stands (only its paths, sizes and hashes matter here).
store_plan() {
  (cd "$(release_dir thousands)" && find . -type f -printf '%P\n' | sort | while IFS= read -r path; do
    printf -- '-\t%s\t%s\t%s\n' "$path" "$(stat -c %s "$path")" "$(sha256sum <"$path" | cut -d' ' -f1)"
  done) >"$(plan thousands)"
}

web_bytes() { du -s --apparent-size -B1 "$1" | cut -f1; }  # web_bytes FOLDER: apparent size

say "Staging $releases releases of the 5,000-file set, each rewriting 1 % of its files, into $bench/www"
rm -rf "$bench/releases" "$bench/www" "$bench/install" "$bench/swift" "$bench/varnish"
mkdir -p "$bench/www"
make_thousands
printf 'release\tvariant\tseconds\n' >"$bench/stage-times.tsv"
for n in $(seq "$releases"); do
  next_release "$n"
  for variant in folders store; do
    option=()
    [ "$variant" = store ] && option=(--store --no-packs)
    start=${EPOCHREALTIME/[.,]/}
    quietly "$bench/stage.log" "$publish" stage "$(release_dir thousands)" "$(web_root thousands "$variant")" "$url_base" "${option[@]}"
    printf '%s\t%s\t%s\n' "$n" "$variant" "$(calc "\"%.3f\", (${EPOCHREALTIME/[.,]/} - $start) / 1e6")" >>"$bench/stage-times.tsv"
  done
  if [ "$n" -eq 1 ]; then
    one_release=$(find "$(release_dir thousands)" -type f -printf '%s\n' | awk '{ n += $1 } END { print n }')
    echo "  release 1: $(find "$(release_dir thousands)" -type f | wc -l) files, $one_release bytes"
  fi
done
store_plan
for variant in folders store; do
  quietly "$bench/check.log" "$publish" check "$(web_root thousands "$variant")/update_go/update.htm" \
    --release "$(release_dir thousands)" --web-root "$(web_root thousands "$variant")"
done
folders_bytes=$(web_bytes "$(web_root thousands folders)") store_bytes=$(web_bytes "$(web_root thousands store)")
pruned=$(mktemp)
start=${EPOCHREALTIME/[.,]/}
quietly "$bench/prune.log" "$publish" prune "$(web_root thousands store)" --keep 3
prune_us=$((${EPOCHREALTIME/[.,]/} - start))
cp "$bench/prune.log" "$pruned"
after_prune=$(web_bytes "$(web_root thousands store)")
quietly "$bench/check.log" "$publish" check "$(web_root thousands store)/update_go/update.htm" \
  --release "$(release_dir thousands)" --web-root "$(web_root thousands store)"

say "Starting Swift (build/bench/swift), pushing the store with deploy/push.sh, and a Wine prefix"
export HARNESS_DIR=$bench/harness
varnish_state=$bench/varnish
cleanup() {
  "$repo/deploy/varnish/serve.sh" stop "$varnish_state" || true
  release_port
  "$repo/tests/wine/store_servers.sh" stop "$bench/swift" >/dev/null 2>&1 || true
  bash "$repo/tests/wine/harness.sh" cleanup >/dev/null 2>&1 || true
  rm -rf "$bench/releases" "$bench/www" "$bench/install"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
origin=$("$repo/tests/wine/store_servers.sh" start "$bench/swift") || fail "Swift did not start"
source "$bench/swift/store.env"
export RCLONE_CONFIG
start=$SECONDS
quietly "$bench/push.log" "$repo/deploy/push.sh" "$(web_root thousands store)" "$STORE_REMOTE" --transfers 8
echo "  pushed $(find "$(web_root thousands store)/o" -type f | wc -l) objects in $((SECONDS - start)) s"
wine_prefix 1200 "$bench/samples-store.tsv"
: >"$bench/store-sent.txt"

# sent NAME LINES COUNT: adds "NAME REPETITION REQUESTS BYTES HITS" for the log's lines after
# LINES, once COUNT are there: every request, the body bytes of all but the manifest (nginx logs
# them; Varnish's are the objects' own sizes) and Varnish's cache hits.
sent() {
  local lines bytes
  lines=$(requests_after "$2" "$3")
  if [ "$server_log" = "$nginx_state/access.log" ]; then
    bytes=$(awk -F'\t' '$1 !~ "^GET /update_go/" { n += $4 } END { print n + 0 }' <<<"$lines")
  else
    bytes=$(awk -F'\t' -v root="$(web_root thousands store)" '{ split($1, r, " ") } r[2] ~ "^/o/" { print root r[2] }' <<<"$lines" |
      xargs -r stat -c %s | awk '{ n += $1 } END { print n + 0 }')
  fi
  echo "$1 $rep $(wc -l <<<"$lines") $bytes $(awk -F'\t' '$4 == "hit"' <<<"$lines" | wc -l)" >>"$bench/store-sent.txt"
}

# full VARIANT NAME and changed VARIANT NAME: the full update, and the target and one file changed.
full() {
  local before
  out_of_date thousands
  before=$(logged)
  updater_run "$2" thousands "$1"
  sent "$2" "$before" "$(($(planned_count thousands) + 2))"
}
changed() {
  local install before path
  install=$(install_dir thousands)
  path=$(awk -F'\t' '$2 != "Ostravine.exe" { print $2; exit }' "$(plan thousands)")
  head -c "$(stat -c %s "$install/$path")" /dev/urandom >"$install/$path"
  printf '\0' >>"$install/Ostravine.exe"
  before=$(logged)
  updater_run "$2" thousands "$1"
  sent "$2" "$before" 4
}
edge() {  # edge: Varnish on 8081 in front of Swift, its cache empty
  "$repo/deploy/varnish/serve.sh" start "$origin" "$varnish_state" 8081 || fail "Varnish could not listen on 127.0.0.1:8081"
}

say "Measuring: $repetitions repetitions (load average before: $(cut -d' ' -f1-3 /proc/loadavg))"
started=$SECONDS
for rep in $(seq "$repetitions"); do
  take_port
  serve thousands folders
  server_log=$nginx_state/access.log
  full folders full.folders
  changed folders changed.folders
  "$repo/deploy/nginx/serve.sh" stop "$nginx_state"
  server_log=$varnish_state/access.log
  edge
  full store full.store.cold
  full store full.store.warm
  edge
  changed store changed.store.cold
  changed store changed.store.warm
  "$repo/deploy/varnish/serve.sh" stop "$varnish_state"
  server_log=$nginx_state/access.log
  release_port
  echo "  repetition $rep of $repetitions done ($((SECONDS - started)) s)"
done
echo "  load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

say "Results of the store set"
ratio() { calc "\"%.2f\", $1 / $one_release"; }
spread() {  # spread VARIANT: median and range of the stage times of releases 2 to 10
  awk -F'\t' -v v="$1" '$2 == v && $1 > 1 { print $3 }' "$bench/stage-times.tsv" | sort -g |
    awk '{ t[NR] = $1 } END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      printf "%.1f s (%.1f to %.1f s over releases 2 to %d); release 1: ", m, t[1], t[NR], NR + 1 }'
  awk -F'\t' -v v="$1" '$2 == v && $1 == 1 { printf "%.1f s\n", $3 }' "$bench/stage-times.tsv"
}
echo "one release: $one_release bytes; after $releases releases (apparent size):"
echo "  folders: $folders_bytes bytes, $(ratio "$folders_bytes") x one release"
echo "  store:   $store_bytes bytes, $(ratio "$store_bytes") x one release (target: at most 1.15)"
echo "stage time per release, median: folders $(spread folders)"
echo "                                 store   $(spread store)"
echo "prune --keep 3: $(calc "\"%.2f s\", $prune_us / 1e6") (target: under 10 s); $(tail -n 1 "$pruned");" \
  "the store is then $after_prune bytes, $(ratio "$after_prune") x one release"
rm -f "$pruned"
echo "the updater against release $releases, medians of $repetitions repetitions (range in brackets):"
for name in full.folders full.store.cold full.store.warm changed.folders changed.store.cold changed.store.warm; do
  awk -v name="$name" '$1 == name { r = $3; b = $4; h = $5 } END { printf "  %-20s %5d requests, %10d bytes, %5d from cache", name, r, b, h }' "$bench/store-sent.txt"
  printf '  %8.3f s [%s]\n' "$(calc "\"%.6f\", $(median "$name") / 1e6")" \
    "$(awk -F'\t' -v name="$name" '$1 == name { print $3 / 1e6 }' "$samples" | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.3f to %.3f s", lo, hi }')"
done
echo "  warm store against folders, full update: $(paired 'a[1] / a[2]' full.store.warm full.folders)" \
  "(1 = the same wall time); one file: $(paired 'a[1] / a[2]' changed.store.warm changed.folders)"
