# The release set of thousands of files, served through a release index; sourced by bench/run.sh
# when given --index-set, after the builds. Only the updater runs, on the set with hash lines:
#   thousands  5,000 files of 1 to 64 KiB (the target among them) in four folder levels, staged
#              by merovast-publish stage, which puts the entries in WEB_ROOT/v/<version>.index
#   many       the 30-file set, for the up-to-date run of a small release
# Each repetition: (a) a full update of an installation holding only the updater and an older
# target; (e) the up-to-date run; (e') the up-to-date run of "many"; (g) an update in which the
# target and one other file changed, timed, with the requests and body bytes nginx sent.

index_bytes() { stat -c %s "$(web_root thousands hash)/$(version_path thousands | sed 's|/$||').index"; }

run_index_full() {  # the whole release: the manifest, the index and every file
  local before expected count
  out_of_date thousands
  before=$(logged)
  expected=$(($(planned_count thousands) + 2))
  updater_run full.thousands.hash thousands hash
  count=$(requests_after "$before" "$expected" | wc -l)
  [ "$count" -eq "$expected" ] || fail "full.thousands.hash: nginx saw $count requests, not $expected"
}

run_index_changed() {  # the target and one other file changed: timed, with what nginx sent
  local install before changed
  install=$(install_dir thousands)
  changed=$(awk -F'\t' '$2 != "Ostravine.exe" { print $2; exit }' "$(plan thousands)")
  head -c "$(stat -c %s "$install/$changed")" /dev/urandom >"$install/$changed"
  printf '\0' >>"$install/Ostravine.exe"
  before=$(logged)
  updater_run changed.thousands.hash thousands hash
  sleep 0.1  # the last answer is logged just after its last byte
  requests_after "$before" 4 | awk -F'\t' -v rep="$rep" -v file="$changed" \
    '{ bytes += $4; paths = paths " " $1 } END { print rep, bytes + 0, NR, file, paths }' >>"$bench/index-changed.txt"
}

say "Staging the index set with merovast-publish stage into $bench/www"
rm -rf "$bench/releases" "$bench/www" "$bench/install" "$bench/fetch"
staging_started=$SECONDS
make_thousands
stage_started=$SECONDS
publish_set thousands hash
echo "  thousands: $(planned_count thousands) files, $(release_bytes thousands) bytes; staged and checked in" \
  "$((SECONDS - stage_started)) s; manifest $(manifest_bytes thousands hash) bytes, index $(index_bytes) bytes"
make_release many 0
publish_set many hash

say "Starting Xvfb and a Wine prefix (build/bench/harness)"
export HARNESS_DIR=$bench/harness
cleanup() {
  release_port
  bash "$repo/tests/wine/harness.sh" cleanup >/dev/null 2>&1 || true
  rm -rf "$bench/releases" "$bench/www" "$bench/install" "$bench/fetch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
wine_prefix 300 "$bench/samples-index.tsv"
: >"$bench/index-changed.txt"

say "Measuring the index set: $repetitions repetitions (load average before: $(cut -d' ' -f1-3 /proc/loadavg))"
started=$SECONDS
for rep in $(seq "$repetitions"); do
  take_port
  serve many hash
  out_of_date many && updater_run full.many.hash many hash
  run_up_to_date many hash
  serve thousands hash
  run_index_full
  run_up_to_date thousands hash
  run_index_changed
  release_port
  echo "  repetition $rep of $repetitions done ($((SECONDS - started)) s)"
done
echo "  load average after: $(cut -d' ' -f1-3 /proc/loadavg); the whole set took $((SECONDS - staging_started)) s"

say "Results of the index set: medians of $repetitions repetitions (range in brackets)"
source "$repo/bench/report.sh" --functions-only
range() { awk -F'\t' -v name="$1" '$1 == name { print $3 / 1e6 }' "$samples" | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.3f to %.3f s", lo, hi }'; }
bytes=$(release_bytes thousands)
echo "thousands: $(planned_count thousands) files, $(calc "\"%.1f\", $bytes / 1048576") MiB; index $(index_bytes) bytes"
measured "(a) full update" full.thousands.hash "$bytes"
echo "      range: $(range full.thousands.hash)"
measured "(e) up to date, 5,000 files" current.thousands.hash ""
echo "      range: $(range current.thousands.hash)"
measured "(e') up to date, 30 files" current.many.hash ""
echo "      range: $(range current.many.hash)"
measured "(g) target and one file changed" changed.thousands.hash ""
echo "      range: $(range changed.thousands.hash)"
row "    (g) minus (e): the index and the checks" "$(paired 'a[1] - a[2]' changed.thousands.hash current.thousands.hash)" ""
echo "    per file checked, (g) minus (e) over 4,999: $(calc "\"%.3f ms\", $(paired 'a[1] - a[2]' changed.thousands.hash current.thousands.hash) / 4999 / 1000")"
echo "    (e) against (e'): $(calc "\"%.3f\", $(paired 'a[1] / a[2]' current.thousands.hash current.many.hash)") (1 = the same wall time)"
echo "    peak RSS, (a) minus (e): $(calc "\"%.1f MiB\", ($(peak full.thousands.hash) - $(peak current.thousands.hash)) / 1024");" \
  "target: at most twice the index, $(calc "\"%.1f MiB\", 2 * $(index_bytes) / 1048576")"
echo "  (g) what nginx sent (repetition, body bytes, requests, the changed file, the paths):"
sed 's/^/    /' "$bench/index-changed.txt"
