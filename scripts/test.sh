#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine: installs what is missing (as root), checks the
# layout of the sources and runs the analysers, builds all configurations and runs the host,
# sanitizer and Wine suites (the 32-bit build is built and inspected, never run), replays and
# runs the fuzzers from a fixed seed, then checks that docs/faults.md says what the run found.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-format.sh
scripts/static-analysis.sh

for preset in native native-asan win32 win64 win64-signed; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# Every case's own lines stay in the JUnit files, which the table of faults is made from.
junit=$PWD/build/junit
mkdir -p "$junit"
for preset in native native-asan win64 win64-signed; do
  ctest --preset "$preset" --output-junit "$junit/$preset.xml" \
    --test-output-size-passed 1048576 --test-output-size-failed 1048576
done
scripts/fuzz.sh
scripts/check-faults-doc.sh "$junit/native.xml" "$junit/win64.xml" "$junit/win64-signed.xml"
