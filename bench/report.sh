# Prints the benchmark's figures from $samples (medians) and $bench/changed.txt; sourced by
# bench/run.sh. MiB = 2^20 bytes; MiB/s = the release's bytes (every planned file) / time.

# median NAME [COLUMN]: the median of one measurement's samples; column 3 is the wall time in
# microseconds, 4 the peak resident set in KiB.
median() {
  awk -F'\t' -v name="$1" -v column="${2:-3}" '$1 == name { print $column }' "$samples" | sort -n |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
calc() { awk "BEGIN { printf $1 }"; }  # calc 'FORMAT, EXPRESSION...'

# row LABEL MICROSECONDS BYTES [RSS_KIB]: one line of a set's table.
row() {
  local speed="" rss=""
  [ -n "$3" ] && speed=$(calc "\"%8.1f MiB/s\", $3 / 1048576 / ($2 / 1e6)")
  [ -n "${4:-}" ] && rss=$(calc "\"  peak RSS %5.1f MiB\", $4 / 1024")
  printf '  %-48s %8.3f s %-14s%s\n' "$1" "$(calc "\"%.6f\", $2 / 1e6")" "$speed" "$rss"
}

say "Results: medians of $repetitions alternating repetitions"
echo "machine: $(nproc) cores, $(grep -m1 '^model name' /proc/cpuinfo | sed 's/^[^:]*: //'), $(/usr/lib/wine/wine64 --version)," \
  "nginx $(nginx -v 2>&1 | sed 's|.*/||'), curl $(curl --version | awk 'NR == 1 { print $2 }')," \
  "wget $(wget --version | awk 'NR == 1 { print $3 }')"
echo "install folders and fetched copies in $bench (same file system); the updater flushes each file"
echo "before it replaces the old one, curl and wget do not"
bare=$(median bare)
bare_rss=$(median bare 4)
[ ${#variants[@]} -eq 2 ] || echo "hash lines: not available in this build; every updater figure is without them"

for set in "${sets[@]}"; do
  bytes=$(release_bytes "$set")
  files=$(planned_count "$set")
  echo
  echo "$set: $files files, $(calc "\"%.2f\", $bytes / 1048576") MiB, the manifest and every file fetched"
  for variant in "${variants[@]}"; do
    label=$([ "$variant" = hash ] && echo ", with hash lines" || echo "")
    full=$(median "full.$set.$variant")
    current=$(median "current.$set.$variant")
    row "(a) updater, full update$label" "$full" "$bytes" "$(median "full.$set.$variant" 4)"
    row "(e) updater, up to date$label" "$current" "" "$(median "current.$set.$variant" 4)"
    row "    updater's time: full minus up to date" "$((full - current))" "$bytes"
    eval "net_$variant=$((full - current))"
  done
  curl_us=$(median "curl.$set") wget_us=$(median "wget.$set")
  ceiling=$(median "ceiling.$set") ceiling_sha=$(median "ceiling-sha256.$set")
  row "(b) curl" "$curl_us" "$bytes" "$(median "curl.$set" 4)"
  row "(c) wget" "$wget_us" "$bytes" "$(median "wget.$set" 4)"
  row "(d) ceiling: WinINet, 5000-byte reads, no disk" "$ceiling" "$bytes" "$(median "ceiling.$set" 4)"
  row "(d') ceiling with CNG SHA-256" "$ceiling_sha" "$bytes" "$(median "ceiling-sha256.$set" 4)"
  row "    bare GUI program (start-up of any)" "$bare" "" "$bare_rss"
  # Speeds compared: the updater's time against each other's wall time.
  echo "  speed ratios, updater's time (full minus up to date) against the others' wall time:"
  echo "    updater/ceiling $(calc "\"%.3f\", $ceiling / $net_nohash")" \
    " updater/curl $(calc "\"%.3f\", $curl_us / $net_nohash")" \
    " updater/wget $(calc "\"%.3f\", $wget_us / $net_nohash")"
  if [ ${#variants[@]} -eq 2 ]; then
    echo "    with hash lines: updater/ceiling with SHA-256 $(calc "\"%.3f\", $ceiling_sha / $net_hash")"
  fi
  per_file="updater $(calc "\"%.2f ms\", $net_nohash / $files / 1000")"
  if [ ${#variants[@]} -eq 2 ]; then per_file+=" (with hash lines $(calc "\"%.2f ms\", $net_hash / $files / 1000"))"; fi
  echo "  per file: $per_file, ceiling $(calc "\"%.2f\", ($ceiling - $bare) / $files / 1000") ms (its start-up taken off)," \
    "curl $(calc "\"%.2f\", $curl_us / $files / 1000") ms, wget $(calc "\"%.2f\", $wget_us / $files / 1000") ms"
done

echo
echo "(e) up to date against a bare GUI program started the same way: updater $(calc "\"%.3f\", $(median current.many.nohash) / 1e6") s" \
  "(many), bare program $(calc "\"%.3f\", $bare / 1e6") s; the updater waits 0.2 s before it asks for the manifest"
echo "(f) peak resident set of the wine64 process running the updater (GNU time %M), full update:" \
  "16 MiB $(calc "\"%.1f\", $(median full.medium.nohash 4) / 1024") MiB," \
  "256 MiB $(calc "\"%.1f\", $(median full.large.nohash 4) / 1024") MiB" \
  "(difference $(calc "\"%+.1f\", ($(median full.large.nohash 4) - $(median full.medium.nohash 4)) / 1024") MiB);" \
  "the bare GUI program: $(calc "\"%.1f\", $bare_rss / 1024") MiB"
if [ ${#variants[@]} -eq 2 ]; then
  echo "    with hash lines: 16 MiB $(calc "\"%.1f\", $(median full.medium.hash 4) / 1024") MiB," \
    "256 MiB $(calc "\"%.1f\", $(median full.large.hash 4) / 1024") MiB"
fi
while read -r variant sent requests changed; do
  manifest_bytes=$(stat -c %s "$(web_root many "$variant")/update_go/update.htm")
  whole=$(($(release_bytes many) + manifest_bytes))
  least=$(awk -F'\t' -v changed="$changed" '$2 == "Ostravine.exe" || $2 == changed { n += $3 } END { print n }' "$(plan many)")
  least=$((least + manifest_bytes))
  echo "(g) update of the many set in which only the target and $changed changed" \
    "$([ "$variant" = hash ] && echo "(hash lines)" || echo "(no hash lines)"): nginx sent $sent body bytes in $requests requests;" \
    "the whole release with its manifest is $whole bytes, the manifest, the target and that file $least bytes"
done <"$bench/changed.txt"
echo
echo "every sample: $samples"
