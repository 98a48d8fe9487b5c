#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: clang-14, ASan and UBSan), replays the committed
# seed corpora under fuzz/corpus/ and then fuzzes each target for a fixed number of runs from
# seed 1, so that a run finds the same inputs every time. Exits non-zero when any input crashes
# a target or fails one of its checks; the input is kept under build/fuzz/artifacts/.
#
#   scripts/fuzz.sh                 the CI mode: replay, then -seed=1 -runs=N per target
#   scripts/fuzz.sh --long [SECS]   fuzz each target for SECS seconds (600) from a random seed,
#                                   keeping what it finds in build/fuzz/work/<target>
set -euo pipefail
cd "$(dirname "$0")/.."

mode=ci
seconds=600
if [ "${1:-}" = --long ]; then
  mode=long
  seconds=${2:-600}
elif [ $# -gt 0 ]; then
  echo "usage: scripts/fuzz.sh [--long [SECONDS]]" >&2
  exit 2
fi
scripts/install-deps.sh
source scripts/build-cache.sh

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

# target, runs in the CI mode (40 to 60 s each on a 2-core machine), longest input, seed folders.
# Every manifest seed, the publisher's golden manifests among them, also seeds the update run.
manifests="tests/publisher/golden fuzz/corpus/manifest"
targets=(
  "manifest 800000 6000 $manifests"
  "update_run 240000 6000 fuzz/corpus/update_run $manifests"
  "pe 30000 16384 fuzz/corpus/pe"
  "block_map 200000 16384 fuzz/corpus/block_map"
)
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
# fuzz_target NAME RUNS MAX_LEN SEED_FOLDER...: replays and fuzzes one target; says how it went.
fuzz_target() {
  local name=$1 runs=$2 max_len=$3 start=$SECONDS folder
  shift 3
  local seeds=("$@") binary=build/fuzz/fuzz/${name}_fuzz work=build/fuzz/work/$name run
  local options=(-max_len="$max_len" -timeout=10 -print_final_stats=0 -artifact_prefix="$artifacts/$name-")
  if [ "$mode" = ci ]; then
    local seed_files=()
    for folder in "${seeds[@]}"; do seed_files+=("$folder"/*); done
    if ! "$binary" "${options[@]}" "${seed_files[@]}" >"$artifacts/$name-replay.log" 2>&1; then
      echo "fuzz: $name: a committed seed fails (see $artifacts/$name-replay.log)" >&2
      return 1
    fi
    rm -rf "$work"
    mkdir -p "$work"
    run=(-seed=1 -runs="$runs")
  else
    mkdir -p "$work"
    run=(-max_total_time="$seconds")
  fi
  if "$binary" "${options[@]}" "${run[@]}" "$work" "${seeds[@]}" >"$artifacts/$name.log" 2>&1; then
    echo "fuzz: $name: $(ls "$work" | wc -l) new inputs, no crash, $((SECONDS - start)) s"
  else
    echo "fuzz: $name: crash (see $artifacts/$name.log and $artifacts/$name-*)" >&2
    return 1
  fi
}
# Each target runs on one core: two at a time, each from its own fixed seed, so a run still
# finds the same inputs every time.
failed=()
declare -A running=()
reap() {  # waits for one running target and notes whether it failed
  local pid
  wait -n -p pid "${!running[@]}" || failed+=("${running[$pid]}")
  unset "running[$pid]"
}
for target in "${targets[@]}"; do
  read -r name runs max_len seeds <<<"$target"
  read -r -a seeds <<<"$seeds"
  [ ${#running[@]} -lt 2 ] || reap
  fuzz_target "$name" "$runs" "$max_len" "${seeds[@]}" &
  running[$!]=$name
done
while [ ${#running[@]} -gt 0 ]; do reap; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
