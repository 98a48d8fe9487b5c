#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine: installs what is missing (as root), checks the
# layout of the sources and runs the analysers, builds all configurations (the shipped 32-bit
# updater through scripts/build.sh; it is built and inspected, never run) and runs the host,
# sanitizer and Wine suites, then the demo (scripts/demo.sh) as a user runs it, replays and runs
# the fuzzers from a fixed seed and then for a few seconds from a random one, and last checks that
# docs/faults.md says what the run found. Each step's wall time is printed as it ends, and all of
# them at the end, also when a step fails.
#
# The analysers and the fuzzers need none of the presets' builds, and the Wine suites leave a
# core idle much of the time (they wait for windows and for Wine's processes to start): so they
# run beside the rest, at the lowest CPU priority, and never take a core the suites need. Their
# output goes to build/test-lane.log and their steps' times join the table at the end.
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
  [ -z "${lane_pid:-}" ] || lane_summary
  printf '\n== test.sh: wall time per step\n'
  printf '%s\n' "${times[@]}"
  printf '%6d s  in all\n' $((SECONDS - started))
  [ -z "$current" ] || echo "test.sh: FAILED in the step: $current" >&2
  return "$rc"
}
trap summary EXIT

# Every preset is configured once, before anything runs beside the builds: the analysers read
# the compile databases, which configuring again would rewrite under them.
configure() {
  local preset
  for preset in native native-asan win64 win64-signed fuzz; do cmake --preset "$preset" >/dev/null; done
}
build() { cmake --build --preset "$1"; }
# Every case's own lines stay in the JUnit files, which the table of faults is made from.
junit=$PWD/build/junit
suite() {  # suite PRESET [CTEST OPTIONS]
  ctest --preset "$1" --output-junit "$junit/$1.xml" \
    --test-output-size-passed 1048576 --test-output-size-failed 1048576 "${@:2}"
}

step "install the packages" scripts/install-deps.sh
step "format" scripts/check-format.sh
step "configure the presets" configure

# The lane beside the rest: each of its steps is timed like the others; the first failure ends it.
lane_log=$PWD/build/test-lane.log lane_times=$PWD/build/test-lane.times
lane() {
  local name start rc
  renice -n 19 -p "$BASHPID" >/dev/null
  for name in "analysers" "fuzzers (fixed seed)" "fuzzers (scripts/fuzz.sh --long 5)"; do
    start=$SECONDS rc=0
    printf '\n== lane: %s\n' "$name"
    case "$name" in
      analysers) scripts/static-analysis.sh --configured || rc=$? ;;
      "fuzzers (fixed seed)") scripts/fuzz.sh || rc=$? ;;
      *) scripts/fuzz.sh --long 5 || rc=$? ;;
    esac
    printf '%6d s  %s (beside the rest)\n' $((SECONDS - start)) "$name" >>"$lane_times"
    [ "$rc" -eq 0 ] || { echo "lane: FAILED in: $name" >>"$lane_times"; return "$rc"; }
  done
}
rm -f "$lane_times"
lane >"$lane_log" 2>&1 </dev/null &
lane_pid=$!
# The lane's times join the table once it has ended; if this script stops early, so does the lane.
lane_done=0
stop_tree() {  # stop_tree PID: stops a process and everything it started
  local child
  for child in $(pgrep -P "$1"); do stop_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
lane_summary() {
  [ "$lane_done" = 1 ] || stop_tree "$lane_pid"
  [ ! -f "$lane_times" ] || times+=("$(cat "$lane_times")")
}
wait_for_lane() {
  local rc=0
  wait "$lane_pid" || rc=$?
  lane_done=1
  cat "$lane_log"
  return "$rc"
}
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
step "demo (scripts/demo.sh)" scripts/demo.sh
step "waiting for the analysers and the fuzzers" wait_for_lane
step "table of faults" scripts/check-faults-doc.sh "$junit/native.xml" "$junit/win64.xml" "$junit/win64-signed.xml"
