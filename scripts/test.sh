#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine: installs what is missing (as root), checks the
# layout of the sources and runs the analysers, builds all configurations (the shipped 32-bit
# updater through scripts/build.sh; it is built and inspected, never run) and runs the host,
# sanitizer and Wine suites, replays and runs the fuzzers from a fixed seed and then for a few
# seconds from a random one, checks that docs/faults.md says what the run found, and last runs
# the demo (scripts/demo.sh) as a user runs it. Each step's wall time is printed as it ends, and
# all of them at the end, also when a step fails.
#
# The builds go through ccache with one cache under build/: configurations that differ only in
# the built-in keys (win64, win64-signed, the demo's) compile each shared file once.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-cache.sh

started=$SECONDS
times=()
current=
step() {  # step NAME COMMAND...: runs COMMAND as the step NAME and keeps its wall time
  local name=$1 start=$SECONDS
  shift
  current=$name
  printf '\n== test.sh: %s\n' "$name"
  "$@"
  times+=("$(printf '%6d s  %s' $((SECONDS - start)) "$name")")
  printf '== test.sh: %s: %d s\n' "$name" $((SECONDS - start))
  current=
}
summary() {
  local rc=$?
  printf '\n== test.sh: wall time per step\n'
  printf '%s\n' "${times[@]}"
  printf '%6d s  in all\n' $((SECONDS - started))
  [ -z "$current" ] || echo "test.sh: FAILED in the step: $current" >&2
  return "$rc"
}
trap summary EXIT

build() {  # build PRESET
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}
# Every case's own lines stay in the JUnit files, which the table of faults is made from.
junit=$PWD/build/junit
suite() {  # suite PRESET [CTEST OPTIONS]
  ctest --preset "$1" --output-junit "$junit/$1.xml" \
    --test-output-size-passed 1048576 --test-output-size-failed 1048576 "${@:2}"
}

step "install the packages" scripts/install-deps.sh
step "format" scripts/check-format.sh
step "analysers" scripts/static-analysis.sh
step "build native" build native
step "build native-asan" build native-asan
step "build win32 (scripts/build.sh)" scripts/build.sh
step "build win64" build win64
step "build win64-signed" build win64-signed

mkdir -p "$junit"
# The host suites keep their files apart and can run two at a time; the Wine suites share one
# prefix, display and port, which their own locks serialise.
step "tests native" suite native -j2
step "tests native-asan" suite native-asan -j2
step "tests win64 (Wine)" suite win64
step "tests win64-signed (Wine)" suite win64-signed
step "fuzzers (fixed seed)" scripts/fuzz.sh
step "fuzzers (scripts/fuzz.sh --long 5)" scripts/fuzz.sh --long 5
step "table of faults" scripts/check-faults-doc.sh "$junit/native.xml" "$junit/win64.xml" "$junit/win64-signed.xml"
step "demo (scripts/demo.sh)" scripts/demo.sh
