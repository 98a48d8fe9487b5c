# Prints the benchmark's figures from $samples and $bench/changed.txt; sourced by bench/run.sh.
# MiB = 2^20 bytes; MiB/s = the release's bytes (every planned file) / time.
#
# The machine is shared, so its load changes between repetitions far more than between the runs
# of one repetition, which are seconds apart: every figure that relates two measurements
# (a difference, a ratio) is taken within each repetition first, and the median of those is
# printed.

# paired EXPRESSION NAME...: the median over the repetitions of EXPRESSION, in which a[1], a[2]...
# are the wall times (microseconds) of NAME... in that repetition.
paired() { paired_each "$@" | middle; }
# paired_each EXPRESSION NAME...: EXPRESSION's value in each repetition that has every NAME, one a line.
paired_each() {
  local expression=$1
  shift
  awk -F'\t' -v names="$*" '
    BEGIN { n = split(names, name, " "); for (i = 1; i <= n; i++) slot[name[i]] = i }
    ($1 in slot) { v[$2 "," slot[$1]] = $3; seen[$2] = 1 }
    END {
      for (r in seen) {
        complete = 1
        for (i = 1; i <= n; i++) if (!((r "," i) in v)) complete = 0; else a[i] = v[r "," i]
        if (complete) print ('"$expression"')
      }
    }' "$samples"
}
middle() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { awk -F'\t' -v pattern="$1" -v column="$2" '$1 ~ pattern { print $column }' "$samples"; }  # column REGEX N
median() { paired 'a[1]' "$1"; }                                      # median NAME: wall time, µs
peak() { awk -F'\t' -v name="$1" '$1 == name { print $4 }' "$samples" | middle; }  # peak NAME: peak RSS, KiB
best() { awk -F'\t' -v name="$1" '$1 == name { print $3 }' "$samples" | sort -g | head -n 1; }  # shortest wall time
calc() { awk "BEGIN { printf $1 }"; }  # calc 'FORMAT, EXPRESSION...'

# row LABEL MICROSECONDS BYTES [RSS_KIB [BEST_MICROSECONDS]]: one line of a set's table.
row() {
  local speed="" rss="" fastest=""
  [ -n "$3" ] && speed=$(calc "\"%7.1f MiB/s\", $3 / 1048576 / ($2 / 1e6)")
  [ -n "${4:-}" ] && rss=$(calc "\"peak RSS %5.1f MiB\", $4 / 1024")
  [ -n "${5:-}" ] && fastest=$(calc "\"best %7.3f s\", $5 / 1e6")
  printf '  %-46s %8.3f s  %-13s  %-18s  %s\n' "$1" "$(calc "\"%.6f\", $2 / 1e6")" "$speed" "$rss" "$fastest"
}
measured() { row "$1" "$(median "$2")" "$3" "$(peak "$2")" "$(best "$2")"; }  # measured LABEL NAME [BYTES]

# The index set prints its own figures with the functions above.
[ "${1:-}" = --functions-only ] && return 0

say "Results: medians of $repetitions alternating repetitions"
echo "machine: $(nproc) cores, $(grep -m1 '^model name' /proc/cpuinfo | sed 's/^[^:]*: //'), $(/usr/lib/wine/wine64 --version)," \
  "nginx $(nginx -v 2>&1 | sed 's|.*/||'), curl $(curl --version | awk 'NR == 1 { print $2 }')," \
  "wget $(wget --version | awk 'NR == 1 { print $3 }')"
echo "install folders and fetched copies in $bench (one file system); the updater flushes every file"
echo "before it replaces the old one, curl and wget do not; curl and wget keep one connection, the"
echo "updater and the ceiling program open a session per file"

for set in "${sets[@]}"; do
  bytes=$(release_bytes "$set")
  files=$(planned_count "$set")
  echo
  echo "$set: $files files, $(calc "\"%.2f\", $bytes / 1048576") MiB; the manifest and every file fetched"
  for variant in "${variants[@]}"; do
    label=$([ "$variant" = hash ] && echo ", with hash lines" || echo "")
    measured "(a) updater, full update$label" "full.$set.$variant" "$bytes"
    measured "(e) updater, up to date$label" "current.$set.$variant" ""
    row "    updater's time: full minus up to date" "$(paired 'a[1] - a[2]' "full.$set.$variant" "current.$set.$variant")" "$bytes"
  done
  measured "(b) curl" "curl.$set" "$bytes"
  measured "(c) wget" "wget.$set" "$bytes"
  measured "(d) ceiling: WinINet, 5000-byte reads, no disk" "ceiling.$set" "$bytes"
  measured "(d') ceiling with CNG SHA-256" "ceiling-sha256.$set" "$bytes"
  measured "    bare GUI program" "bare.$set" ""
  # Speed ratios: the other's wall time over the updater's time, within each repetition.
  ratio() { calc "\"%.3f\", $(paired "a[1] / (a[2] - a[3])" "$1" "full.$set.$2" "current.$set.$2")"; }
  # The ceiling's wall time includes a Wine start-up, which the updater's time does not.
  net_ratio() { calc "\"%.3f\", $(paired "(a[1] - a[4]) / (a[2] - a[3])" "$1" "full.$set.$2" "current.$set.$2" "bare.$set")"; }
  echo "  speed ratios (updater's time against the other's wall time): updater/ceiling $(ratio "ceiling.$set" nohash)," \
    "updater/curl $(ratio "curl.$set" nohash), updater/wget $(ratio "wget.$set" nohash);" \
    "updater/ceiling less a bare program's start-up $(net_ratio "ceiling.$set" nohash)"
  echo "    with hash lines: updater/ceiling with SHA-256 $(ratio "ceiling-sha256.$set" hash)," \
    "less a bare program's start-up $(net_ratio "ceiling-sha256.$set" hash)"
  per_file() { calc "\"%.2f ms\", $(paired "$1" "${@:2}") / $files / 1000"; }
  cost="updater $(per_file 'a[1] - a[2]' "full.$set.nohash" "current.$set.nohash")"
  cost+=" (with hash lines $(per_file 'a[1] - a[2]' "full.$set.hash" "current.$set.hash"))"
  echo "  per file: $cost, ceiling $(per_file 'a[1] - a[2]' "ceiling.$set" "bare.$set") (its start-up taken off)," \
    "curl $(per_file 'a[1]' "curl.$set"), wget $(per_file 'a[1]' "wget.$set")"
done

echo
echo "(e) up to date against a bare GUI program started the same way (medians over every set):" \
  "updater $(calc "\"%.3f\", $(column '^current\..*\.nohash$' 3 | middle) / 1e6") s," \
  "bare program $(calc "\"%.3f\", $(column '^bare\.' 3 | middle) / 1e6") s; the updater waits 0.2 s before it asks for the manifest"
for variant in "${variants[@]}"; do
  echo "(f) peak resident set (GNU time %M) of the wine64 process running the updater, full update$([ "$variant" = hash ] && echo ", hash lines"):" \
    "16 MiB $(calc "\"%.1f\", $(peak "full.medium.$variant") / 1024") MiB," \
    "256 MiB $(calc "\"%.1f\", $(peak "full.large.$variant") / 1024") MiB" \
    "(difference $(calc "\"%+.1f\", ($(peak "full.large.$variant") - $(peak "full.medium.$variant")) / 1024") MiB);" \
    "a bare GUI program: $(calc "\"%.1f\", $(peak bare.medium) / 1024") MiB"
done
hash_sent= hash_least=
while read -r variant sent requests changed; do
  manifest_size=$(manifest_bytes many "$variant")
  whole=$(($(release_bytes many) + manifest_size))
  least=$(awk -F'\t' -v changed="$changed" '$2 == "Ostravine.exe" || $2 == changed { n += $3 } END { print n }' "$(plan many)")
  least=$((least + manifest_size))
  [ "$variant" = hash ] && hash_sent=$sent hash_least=$least
  echo "(g) update of the many set in which only the target and $changed changed" \
    "$([ "$variant" = hash ] && echo "(hash lines)" || echo "(no hash lines)"): nginx sent $sent body bytes in $requests requests" \
    "($(calc "\"%.1f\", 100 * $sent / $whole") % of the whole release with its manifest, $whole bytes);" \
    "the manifest, the target and that file are $least bytes"
done <"$bench/changed.txt"

# The phase log of the many set: each step's median over every file of every repetition.
step() {  # step RUN PHASE: median microseconds, as milliseconds
  local value
  value=$(awk -v run="$1" -v phase="$2" '$1 == run && $3 == phase { print $4 }' "$bench/phases.txt" | middle)
  [ "$value" = nan ] && echo "-" || calc "\"%.2f\", $value / 1000"
}
steps() { awk -v run="$1" -v phase="$2" '$1 == run && $3 == phase' "$bench/phases.txt" | wc -l; }
echo
echo "per-file steps of the many set (the updater built with -DUPDATER_PHASE_LOG=ON; medians in ms over every file of" \
  "every repetition; each step from the end of the one before):"
printf '  %-34s %8s %8s %9s %8s %8s %8s %9s %7s\n' run session request "temp open" body flush replace transfer files
for run in nohash.full hash.full; do
  printf '  %-34s %8s %8s %9s %8s %8s %8s %9s %7s\n' "full update, $([ "$run" = hash.full ] && echo "hash lines" || echo "no hash lines")" \
    "$(step "$run" session)" "$(step "$run" request)" "$(step "$run" open)" "$(step "$run" body)" "$(step "$run" flush)" \
    "$(step "$run" replace)" "$(step "$run" transfer)" "$(steps "$run" transfer)"
done
echo "  hash check of a file already in place (hash lines, every file but the target in place):" \
  "$(step hash.current check) ms over $(steps hash.current check) files; the target's transfer there $(step hash.current transfer) ms"

# The targets.
verdict() { if awk "BEGIN { exit !($1) }"; then echo met; else echo MISSED; fi; }
echo
echo "targets:"
set=large
for variant in "${variants[@]}"; do
  ceiling=ceiling.large label="(d) without hash lines"
  [ "$variant" = hash ] && ceiling=ceiling-sha256.large label="(d') with hash lines"
  r=$(ratio "$ceiling" "$variant")
  echo "  one large file, updater's time (full minus up to date) against $label: $r of the ceiling's speed" \
    "(at least 0.95): $(verdict "$r >= 0.95")"
done
for variant in "${variants[@]}"; do
  medium_rss=$(peak "full.medium.$variant") large_rss=$(peak "full.large.$variant")
  echo "  peak RSS$([ "$variant" = hash ] && echo ", hash lines"): 256 MiB $(calc "\"%.1f\", $large_rss / 1024") MiB against 16 MiB" \
    "$(calc "\"%.1f\", $medium_rss / 1024") MiB + 2 MiB: $(verdict "$large_rss <= $medium_rss + 2048")"
done
echo "  target plus one file, hash lines: $hash_sent bytes sent, at most $hash_least (the manifest, the target and that file):" \
  "$(verdict "${hash_sent:-1} <= ${hash_least:-0}")"
echo
echo "every sample: $samples"
