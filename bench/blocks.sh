# The block-map rows (h) to (k), beside zsync on the same nginx; sourced by bench/run.sh after
# lib.sh. One release, the target and a 256 MiB file, staged with its map; the same file's zsync
# control file (zsyncmake) in the web root's zsync/ folder. Per repetition, alternating:
#   whole  an installation without the file: today's whole download (no map is asked for)
#   (d″)   the ceiling program over the same three URLs, hashing and writing each body to a
#          temporary file as the updater does: run beside "whole", in turns first and second
#   (h)    the installed copy differs by 1 MiB overwritten in the middle
#   (i)    the new file has one byte inserted near its start
#   (j)    a run killed once its temporary file holds half of the file (polled, killed by PID),
#          then a second run: the second run's bytes and time
#   (k)    the installed copy shares nothing with the new file: the map's overhead
# and the zsync client with the same seeds (the old copy; for (j), the killed run's part). Bytes
# are nginx's $body_bytes_sent over the run's requests; times are wall times. The updater built
# with the phase log runs (h) once more per repetition for the time of its scan of the seed, and
# the whole download once more for the steps of the large file's transfer; a bare GUI program
# gives Wine's start-up.

blocks_release=$bench/releases/blocks
blocks_root=$bench/www/blocks
blocks_file=data/large.bin
blocks_size=$((256 << 20))

# blocks_variant NAME: the installed copy of the large file for that row, from the new one.
blocks_variant() {
  local new=$blocks_release/$blocks_file
  case "$1" in
    h) python3 -c 'import sys, os; b = bytearray(open(sys.argv[1], "rb").read()); m = len(b) // 2
b[m:m + (1 << 20)] = os.urandom(1 << 20); sys.stdout.buffer.write(b)' "$new" ;;
    i) python3 -c 'import sys; b = open(sys.argv[1], "rb").read(); sys.stdout.buffer.write(b[:4096] + b[4097:])' "$new" ;;
    k) head -c "$blocks_size" /dev/urandom ;;
  esac
}

make_blocks_release() {
  rm -rf "$blocks_release" "$blocks_root"
  mkdir -p "$blocks_release/data" "$blocks_root/zsync" "$bench/seeds"
  cp "$programs/bench-target.exe" "$blocks_release/Ostravine.exe"
  truncate -s 65536 "$blocks_release/Ostravine.exe"
  head -c "$blocks_size" /dev/urandom >"$blocks_release/$blocks_file"
  "$publish" stage "$blocks_release" "$blocks_root" "$url_base" >"$bench/stage.out" 2>&1 ||
    { cat "$bench/stage.out" >&2; fail "merovast-publish stage refused the block-map release"; }
  "$publish" check "$blocks_root/update_go/update.htm" --release "$blocks_release" >"$bench/check.out" 2>&1 ||
    { cat "$bench/check.out" >&2; fail "merovast-publish check finds fault with the block-map release"; }
  blocks_url=$(grep -a '^update_url=' "$blocks_root/update_go/update.htm" | tr -d '\r' | cut -d= -f2-)
  (cd "$blocks_root/zsync" && zsyncmake -u "$blocks_url/$blocks_file" -o large.bin.zsync "$blocks_release/$blocks_file")
  for variant in h i k; do blocks_variant "$variant" >"$bench/seeds/$variant"; done
}

# blocks_install [SEED]: an out-of-date installation, holding SEED as the large file's old copy.
blocks_install() {
  local install=$bench/install/blocks
  rm -rf "$install"
  mkdir -p "$install/data"
  cp "$updater" "$install/Merovast.exe"
  cp "$blocks_release/Ostravine.exe" "$install/"
  printf '\0' >>"$install/Ostravine.exe"
  if [ -n "${1:-}" ]; then cp "$1" "$install/$blocks_file"; fi
}

# blocks_bytes LINES: body bytes and requests nginx logged after the first LINES.
blocks_bytes() { sleep 0.1; tail -n +"$(($1 + 1))" "$nginx_state/access.log" | awk -F'\t' '{ b += $4 } END { print b + 0, NR }'; }

blocks_record() {  # blocks_record NAME LINES: adds NAME's bytes and requests to blocks.tsv
  printf '%s\t%s\t%s\n' "$1" "$rep" "$(blocks_bytes "$2" | tr ' ' '\t')" >>"$bench/blocks.tsv"
}

blocks_updater_run() {  # blocks_updater_run NAME [SEED]
  local install=$bench/install/blocks before
  blocks_install "${2:-}"
  before=$(logged)
  measure "$1" "${wine_line[@]}" "$install/Merovast.exe"
  target_done "$install"
  cmp -s "$install/$blocks_file" "$blocks_release/$blocks_file" || fail "$1: the large file is not the release's"
  blocks_record "$1" "$before"
}

blocks_zsync_run() {  # blocks_zsync_run NAME SEED
  local before out=$bench/fetch/large.bin
  rm -rf "$bench/fetch"
  mkdir -p "$bench/fetch"
  before=$(logged)
  measure "$1" zsync -q -i "$2" -o "$out" "$url_base/zsync/large.bin.zsync"
  cmp -s "$out" "$blocks_release/$blocks_file" || fail "$1: zsync did not assemble the release's file"
  blocks_record "$1" "$before"
  rm -rf "$bench/fetch"
}

# blocks_killed: (j). The first run is killed (its wine64 process, by PID) once the temporary
# file holds half the file; the second run is measured.
blocks_killed() {
  local install=$bench/install/blocks partial pid size i before
  blocks_install
  partial=$install/$blocks_file.download
  "${wine_line[@]}" "$install/Merovast.exe" >/dev/null 2>&1 &
  pid=$!
  for i in $(seq 3000); do
    size=$(stat -c %s "$partial" 2>/dev/null || echo 0)
    [ "$size" -ge $((blocks_size / 2)) ] && break
    sleep 0.01
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  "$WINESERVER" -k 2>/dev/null || true  # the killed updater's threads go with it
  "$WINESERVER" -p 2>/dev/null || true
  size=$(stat -c %s "$partial" 2>/dev/null || echo 0)
  printf 'j.kept\t%s\t%s\t0\n' "$rep" "$size" >>"$bench/blocks.tsv"
  cp "$partial" "$bench/seeds/j"
  before=$(logged)
  measure "j.updater" "${wine_line[@]}" "$install/Merovast.exe"
  target_done "$install"
  cmp -s "$install/$blocks_file" "$blocks_release/$blocks_file" || fail "j.updater: the large file is not the release's"
  blocks_record "j.updater" "$before"
  blocks_zsync_run "j.zsync" "$bench/seeds/j"
}

# blocks_ceiling_write: (d″), the ceiling program with CNG SHA-256 (the manifest has hash lines)
# writing what it reads in 1 MiB pieces and flushing it, in a folder beside the installation.
blocks_ceiling_write() {
  local folder=$bench/install/ceiling manifest=$blocks_root/update_go/update.htm target=$blocks_release/Ostravine.exe expected
  rm -rf "$folder"
  mkdir -p "$folder"
  served() { printf '%s %s %s\n' "$(stat -c %s "$1")" "$(sha256sum <"$1" | cut -d' ' -f1)" "$2"; }  # served FILE URL
  expected=$(served "$manifest" "$manifest_url"; served "$target" "$blocks_url/Ostravine.exe"
    served "$blocks_release/$blocks_file" "$blocks_url/$blocks_file")
  measure "d2.ceiling" "${wine_line[@]}" "$programs/bench-ceiling.exe" --sha256 --write "$(windows_path "$folder")" \
    "$manifest_url" "$blocks_url/Ostravine.exe" "$blocks_url/$blocks_file"
  [ "$(tr -d '\r' <"$bench/out")" = "$expected" ] || fail "d2.ceiling: the ceiling program did not read the release as served"
  [ -z "$(ls -A "$folder")" ] || fail "d2.ceiling: the ceiling program left its temporary file"
  rm -rf "$folder"
}

# blocks_whole_phases: the whole download by the updater built with the phase log, timed as
# "whole.phases"; appends "whole REPETITION PHASE MICROSECONDS" to phases.txt for each step of
# the run's longest transfer, the large file's (session, request, open, body, flush, replace:
# each from the step before; transfer: in all), "before" (from the run's first mark to that
# transfer's start: the manifest, the target and the checks) and "after" (from its end to the
# run's last mark); what lies outside the marks is Wine's start, the window and the exit.
blocks_whole_phases() {
  local install=$bench/install/blocks
  blocks_install
  cp "$phase_updater" "$install/Merovast.exe"
  measure "whole.phases" "${wine_line[@]}" "$install/Merovast.exe"
  target_done "$install"
  cmp -s "$install/$blocks_file" "$blocks_release/$blocks_file" || fail "whole, phase log: the large file is not the release's"
  tr -d '\r' <"$install/merovast-phases.log" | awk -v rep="$rep" '
    NR == 1 { first = $2 }
    { last = $2 }
    $1 == "start" { n = 0 }
    { at[$1] = $2; order[++n] = $1 }
    $1 == "replace" && n == 7 && $2 - at["start"] > longest {
      longest = $2 - at["start"]
      for (i = 2; i <= 7; i++) step[order[i]] = at[order[i]] - at[order[i - 1]]
      step["transfer"] = longest
      step["before"] = at["start"] - first
      end = $2
    }
    END { step["after"] = last - end; step["marked"] = last - first; for (p in step) print "whole", rep, p, step[p] }' \
    >>"$bench/phases.txt"
}

# blocks_scan: the updater with the phase log on (h): microseconds from the map's arrival to the
# end of the scan of the seeds.
blocks_scan() {
  local install=$bench/install/blocks
  blocks_install "$bench/seeds/h"
  cp "$phase_updater" "$install/Merovast.exe"
  wine_run 120 "$install/Merovast.exe" >/dev/null 2>&1 || fail "scan: the updater ended with status $?"
  target_done "$install"
  tr -d '\r' <"$install/merovast-phases.log" | awk -v rep="$rep" '$1 == "map" { m = $2 } $1 == "scan" { print "scan", rep, $2 - m }' \
    >>"$bench/phases.txt"
}

blocks_repetition() {
  if [ $((rep % 2)) = 1 ]; then
    blocks_updater_run whole
    blocks_ceiling_write
  else
    blocks_ceiling_write
    blocks_updater_run whole
  fi
  for row in h i k; do
    blocks_updater_run "$row.updater" "$bench/seeds/$row"
    blocks_zsync_run "$row.zsync" "$bench/seeds/$row"
  done
  blocks_killed
  blocks_scan
  blocks_whole_phases
  run_bare blocks
}

blocks_report() {
  local file_bytes map_bytes zsync_bytes
  file_bytes=$blocks_size
  map_bytes=$(find "$blocks_root/v" -path '*.maps/*' -type f -printf '%s\n' | head -n 1)
  zsync_bytes=$(stat -c %s "$blocks_root/zsync/large.bin.zsync")
  bytes_of() { awk -F'\t' -v n="$1" '$1 == n { print $3 }' "$bench/blocks.tsv" | middle; }
  requests_of() { awk -F'\t' -v n="$1" '$1 == n { print $4 }' "$bench/blocks.tsv" | middle; }
  range_of() { awk -F'\t' -v n="$1" -v c="$2" '$1 == n { print $c }' "$bench/blocks.tsv" | sort -g | sed -n '1p;$p' | paste -sd-; }
  echo
  echo "block maps: one file of 256 MiB; map $map_bytes bytes ($(calc "\"%.0f\", $map_bytes / 256") bytes per MiB)," \
    "zsync control file $zsync_bytes bytes; bytes are nginx's body bytes of the run (map or control file included)"
  printf '  %-44s %14s %9s %10s   %s\n' "row" "bytes" "requests" "wall" "ratio to the whole download (same repetition)"
  for row in whole h.updater h.zsync i.updater i.zsync j.updater j.zsync k.updater k.zsync; do
    printf '  %-44s %14s %9s %9.3fs   %s\n' "$row (range $(range_of "$row" 3))" "$(bytes_of "$row")" "$(requests_of "$row")" \
      "$(calc "\"%.6f\", $(median "$row") / 1e6")" \
      "$([ "$row" = whole ] || paired 'a[1] / a[2]' "$row" whole)"
  done
  echo "  (j) the killed run left $(bytes_of j.kept) bytes (median); the second run fetched" \
    "$(calc "\"%.1f\", 100 * $(bytes_of j.updater) / $file_bytes") % of the file"
  echo "  (k) map overhead: $(calc "\"%.0f\", $(bytes_of k.updater) - $(bytes_of whole)") bytes more than the whole download" \
    "($(calc "\"%.0f\", ($(bytes_of k.updater) - $(bytes_of whole)) / 256") per MiB)"
  # Speed of the updater's whole download against (d″): (d″)'s wall time over the updater's, per repetition.
  local ratios
  ratios=$(paired_each 'a[2] / a[1]' whole d2.ceiling)
  echo "  (d″) ceiling with SHA-256 writing in 1 MiB pieces and flushing: median $(calc "\"%.3f\", $(median d2.ceiling) / 1e6") s," \
    "range $(awk -F'\t' '$1 == "d2.ceiling" { printf "%.3f\n", $3 / 1e6 }' "$samples" | sort -g | sed -n '1p;$p' | paste -sd-) s;" \
    "the updater's whole download: range $(awk -F'\t' '$1 == "whole" { printf "%.3f\n", $3 / 1e6 }' "$samples" | sort -g | sed -n '1p;$p' | paste -sd-) s"
  echo "  updater whole download / (d″), speed (d″'s wall time over the updater's, within each repetition):" \
    "median $(echo "$ratios" | middle | xargs printf '%.3f'), range $(echo "$ratios" | sort -g | xargs printf '%.3f\n' | sed -n '1p;$p' | paste -sd-)" \
    "(at least 0.95): $(awk -v r="$(echo "$ratios" | middle)" 'BEGIN { print (r >= 0.95 ? "met" : "MISSED") }')"
  local phase
  printf '  the whole download by the phase-log build (median %s s), median ms:' "$(calc "\"%.3f\", $(median whole.phases) / 1e6")"
  for phase in before session request open body flush replace transfer after marked; do
    printf ' %s %s' "$phase" "$(awk -v p="$phase" '$1 == "whole" && $3 == p { print $4 / 1000 }' "$bench/phases.txt" | middle |
      xargs printf '%.1f')"
  done
  echo " (the large file's steps; before and after it, in the marked span)"
  echo "  a bare GUI program started the same way: median $(calc "\"%.3f\", $(median bare.blocks) / 1e6") s;" \
    "(d″) less it: $(calc "\"%.3f\", $(paired 'a[1] - a[2]' d2.ceiling bare.blocks) / 1e6") s;" \
    "the phase-log run outside its marks less it: $(calc "\"%.3f\", ($(paired 'a[1] - a[2]' whole.phases bare.blocks) / 1e3 - $(awk '$1 == "whole" && $3 == "marked" { print $4 }' "$bench/phases.txt" | middle) / 1e3) / 1e3") s"
  echo "  the scan of the 256 MiB seed (h), phase log: median $(awk '$1 == "scan" { print $3 / 1e6 }' "$bench/phases.txt" | middle) s," \
    "range $(awk '$1 == "scan" { print $3 / 1e6 }' "$bench/phases.txt" | sort -g | sed -n '1p;$p' | paste -sd-) s"
}
