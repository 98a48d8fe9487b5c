# The probe where only a whole program run can put it: under a path too long for its buffer,
# and reading the same version blocks as the host's PE reader.
# Arguments: the probe-report program, the host's pe-version program.
set -euo pipefail
source "$(dirname "$0")/../wine/wine-env.sh"
probe=$1
pe_version=$2
[ -x "$pe_version" ] || { echo "pe-version not built: $pe_version (build the native preset first)" >&2; exit 1; }
failures=0
expect() { # what expected actual
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: expected [$2], got [$3]" >&2
    failures=$((failures + 1))
  else
    echo "ok   $1"
  fi
}

# A module path beyond 259 bytes would be cut short, and the folder taken from it would be
# some other folder: the probe must know nothing instead.
deep="$HARNESS_SCRATCH_DIR/$(printf 'folder-%03d/' $(seq 1 30))"
mkdir -p "$deep"
cp "$probe" "$deep/Merovast.exe"
cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$deep/Ostravine.exe"
report=$(wine_run 30 "$deep/Merovast.exe" | tr -d '\r')
expect "long module path" $'\n-1\n' "$report"$'\n'

# A path of the same depth that fits still works.
short="$HARNESS_SCRATCH_DIR/app"
mkdir -p "$short"
cp "$probe" "$short/Merovast.exe"
cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$short/Ostravine.exe"
report=$(wine_run 30 "$short/Merovast.exe" | tr -d '\r')
expect "short module path" "$(windows_path "$short")"$'\n'"$(stat -c %s "$short/Ostravine.exe")"$'\n1,0,0,3' "$report"

# The host's reader against the system's version functions, on files that no one here wrote.
files=("$HARNESS_STANDIN_DIR"/standin-{zh,en,bare}.exe)
while IFS= read -r f; do files+=("$f"); done < <(ls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.{exe,dll} | awk 'NR % 10 == 1')
windows_files=()
for f in "${files[@]}"; do windows_files+=("$(windows_path "$f")"); done
for table in 080404b0 040904b0 040904B0; do
  mapfile -t from_wine < <(wine_run 60 "$probe" "$table" "${windows_files[@]}" | tr -d '\r')
  nonempty=0
  for i in "${!files[@]}"; do
    mine=$("$pe_version" "${files[$i]}" "$table")
    [ -n "$mine" ] && nonempty=$((nonempty + 1))
    expect "$table $(basename "${files[$i]}")" "${from_wine[$i]-<missing>}" "$mine"
  done
  echo "$table: ${#files[@]} files, $nonempty with a version"
  if [ "$table" != 080404b0 ] && [ "$nonempty" -lt 15 ]; then
    echo "FAIL too few files with a $table version to compare: $nonempty" >&2
    failures=$((failures + 1))
  fi
done

[ "$failures" -eq 0 ]
