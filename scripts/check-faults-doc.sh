#!/usr/bin/env bash
# docs/faults.md comes from a test run: this runs the tests its rows name in the native, win64 and
# win64-signed builds (configured and built beforehand), regenerates the document and fails when
# the committed one differs.
#   scripts/check-faults-doc.sh [--write] [JUNIT.xml...]
# --write puts the regenerated document in place instead. JUnit files of an earlier run
# (ctest --output-junit, with --test-output-size-passed large enough for every case line) are
# used instead of running the tests.
set -euo pipefail
write=0
if [ "${1:-}" = --write ]; then write=1; shift; fi
junit=()
for file in "$@"; do junit+=("$(realpath "$file")"); done
cd "$(dirname "$0")/.."
rows=docs/faults-rows.toml
# The run's JUnit files and logs stay here for a look at a failing row.
work=build/faults-doc
mkdir -p "$work"

if [ ${#junit[@]} -eq 0 ]; then
  regex=$(python3 scripts/faults_doc.py --tests-regex "$rows")
  rm -f "$work"/*.xml "$work"/*.log
  for preset in native win64 win64-signed; do
    # A failing test is a row's status, not the end of the check.
    ctest --preset "$preset" -R "$regex" --output-junit "$PWD/$work/$preset.xml" \
      --test-output-size-passed 1048576 --test-output-size-failed 1048576 >"$work/$preset.log" 2>&1 || true
    [ -s "$work/$preset.xml" ] || { cat "$work/$preset.log" >&2; echo "check-faults-doc: no results from $preset" >&2; exit 1; }
    junit+=("$PWD/$work/$preset.xml")
  done
fi

python3 scripts/faults_doc.py "$rows" "${junit[@]}" -o "$work/faults.md"
if [ "$write" = 1 ]; then
  cp "$work/faults.md" docs/faults.md
  echo "docs/faults.md written"
elif ! diff -u docs/faults.md "$work/faults.md"; then
  echo "check-faults-doc: docs/faults.md is not what the tests say (the run: $work); scripts/check-faults-doc.sh --write writes it" >&2
  exit 1
fi
