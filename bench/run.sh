#!/usr/bin/env bash
# How fast the updater brings an installation up to date on this machine (scripts/bench.sh),
# against curl, wget and what WinINet itself allows under Wine. A benchmark, not a test: it
# measures and prints, and fails only when a run did not do its job (an installation that does
# not end up as its release, a transfer that came short).
#
#   bench/run.sh [--repetitions N]     (default 5; medians of N alternating runs)
#   bench/run.sh --index-set [--repetitions N]   (default 1: the 5,000-file set only, see
#                                                 bench/index_set.sh; about 5 minutes a repetition)
#   bench/run.sh --store-set [--repetitions N]   (default 1: ten releases of that set in folders and in
#                                                 a store, pruned, served by nginx and by Varnish from
#                                                 Swift, see bench/store_set.sh; about 20 minutes)
#   bench/run.sh --blocks-only [--repetitions N]   (the block-map rows alone, see bench/blocks.sh)
#   bench/run.sh --packs     (the 5,000-file set from a store with packs and without, through a
#                             latency proxy at 0, 30 and 100 ms, see bench/packs.sh; about 30 minutes)
#
# Release sets, each staged by `merovast-publish stage` into a web root of its own per manifest
# kind (without hash lines and with them; the files under /v/<version>/) and served by nginx
# with the sample configuration (deploy/nginx/serve.sh) on 127.0.0.1:8081:
#   large   the target and one 256 MiB file      medium  the target and one 16 MiB file
#   many    30 files of 64 KiB, the target among them
# Every repetition runs, per set: the updater's full update and its up-to-date run (the
# installation is current), curl and wget fetching the same URLs into a folder beside the
# installation, the ceiling program (the updater's WinINet requests and 5000-byte reads, nothing
# written), the same with CNG SHA-256, and a bare GUI program. Each is timed from its start to
# its end (wall time) under GNU time, whose %M is the peak resident set of the process it waited
# for: for a Windows program that is the wine64 process running it (the wineserver, shared and
# persistent, is not counted). Windows programs are started as the tests start them:
# timeout + /usr/lib/wine/wine64 in the harness's prefix, Xvfb display and zh_CN locale.
# For "many" also the updater built with the phase log (-DUPDATER_PHASE_LOG=ON, build/bench/
# win64-phases): a full update per manifest kind and, with hash lines, an update in which every
# file but the target is in place; the time of each step of each file.
# Finally, once per set of manifests: an update of the "many" set in which only the target and
# one other file changed, and the body bytes nginx sent for it.
#
# Everything lives in build/bench: its own builds, the web roots, installations, fetched copies
# (all removed at the end), samples.tsv with every measurement and
# phases.txt with every step the phase log timed.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
bench=$repo/build/bench
repetitions=
index_set=0
store_set=0
blocks_only=0
packs=0

usage() { echo "usage: $0 [--index-set | --store-set | --blocks-only | --packs] [--repetitions N]" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --blocks-only) blocks_only=1; shift ;;
    -r | --repetitions) [ $# -ge 2 ] && [[ "$2" =~ ^[1-9][0-9]*$ ]] || usage; repetitions=$2; shift 2 ;;
    --index-set) index_set=1; shift ;;
    --store-set) store_set=1; shift ;;
    --packs) packs=1; shift ;;
    -h | --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) usage ;;
  esac
done

say() { printf '\n== %s\n' "$*"; }
fail() { echo "bench: $*" >&2; exit 1; }
quietly() {  # quietly LOG COMMAND...: runs COMMAND, shows its output only when it fails
  "${@:2}" >>"$1" 2>&1 || { tail -n 30 "$1" >&2; fail "failed: ${*:2} (log: $1)"; }
}

say "Installing what is missing (scripts/install-deps.sh)"
scripts/install-deps.sh
mkdir -p "$bench"
rm -f "$bench"/build-*.log

say "Building merovast-publish (host), Merovast.exe and the benchmark's programs (64-bit Windows)"
quietly "$bench/build-native.log" cmake -S . -B "$bench/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
quietly "$bench/build-native.log" cmake --build "$bench/native" -j2 --target merovast-publish
quietly "$bench/build-win64.log" cmake -S . -B "$bench/win64" -G Ninja --toolchain "$repo/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNATIVE_BUILD_DIR="$bench/native"
quietly "$bench/build-win64.log" cmake --build "$bench/win64" -j2 --target Merovast bench-programs
# The same updater with the phase log: the timestamps of every step of every transfer.
if [ "$packs" = 0 ]; then
  quietly "$bench/build-win64.log" cmake -S . -B "$bench/win64-phases" -G Ninja --toolchain "$repo/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNATIVE_BUILD_DIR="$bench/native" -DUPDATER_PHASE_LOG=ON
  quietly "$bench/build-win64.log" cmake --build "$bench/win64-phases" -j2 --target Merovast
fi
publish=$bench/native/tools/publisher/merovast-publish
updater=$bench/win64/app/Merovast.exe
phase_updater=$bench/win64-phases/app/Merovast.exe
programs=$bench/win64/bench/bin
echo "built: $publish, $updater, $phase_updater (phase log), $programs/bench-{ceiling,window,target}.exe"

source "$repo/bench/lib.sh"
if [ "$packs" = 1 ]; then
  source "$repo/bench/packs.sh"
  exit 0
fi
if [ "$index_set" = 1 ]; then
  repetitions=${repetitions:-1}
  [ "$repetitions" -le 3 ] || fail "the index set runs 1 to 3 repetitions"
  source "$repo/bench/index_set.sh"
  exit 0
fi
if [ "$store_set" = 1 ]; then
  repetitions=${repetitions:-1}
  [ "$repetitions" -le 3 ] || fail "the store set runs 1 to 3 repetitions"
  source "$repo/bench/store_set.sh"
  exit 0
fi
repetitions=${repetitions:-5}
source "$repo/bench/blocks.sh"

# --- release sets --------------------------------------------------------------------------

say "Staging the release sets with merovast-publish stage (one web root per set and manifest kind) into $bench/www"
rm -rf "$bench/releases" "$bench/www" "$bench/install" "$bench/fetch"
# Every updater figure is taken without hash lines (nohash) and with them (hash).
variants=(nohash hash)
sets=()
if [ "$blocks_only" = 0 ]; then
  make_release large $((256 << 20))
  make_release medium $((16 << 20))
  make_release many 0
  sets=(large medium many)
fi
make_blocks_release
for set in "${sets[@]}"; do
  for variant in "${variants[@]}"; do publish_set "$set" "$variant"; done
  printf '  %-6s %2d files, %9d bytes, under %s; manifest %d bytes, with hash lines %d bytes\n' "$set" \
    "$(planned_count "$set")" "$(release_bytes "$set")" "$(head -n 1 "$(plan "$set")" | cut -f1 | sed 's|/[^/]*$|/|; s|/data/$|/|')" \
    "$(manifest_bytes "$set" nohash)" "$(manifest_bytes "$set" hash)"
done

# --- measuring -----------------------------------------------------------------------------

say "Starting Xvfb and a Wine prefix (build/bench/harness)"
export HARNESS_DIR=$bench/harness
cleanup() {
  release_port
  bash "$repo/tests/wine/harness.sh" cleanup >/dev/null 2>&1 || true
  rm -rf "$bench/releases" "$bench/www" "$bench/install" "$bench/fetch" "$bench/seeds"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
wine_prefix 120 "$bench/samples.tsv"
: >"$bench/phases.txt"
: >"$bench/blocks.tsv"

say "Measuring: $repetitions repetitions, alternating (load average before: $(cut -d' ' -f1-3 /proc/loadavg))"
started=$SECONDS
for rep in $(seq "$repetitions"); do
  for set in "${sets[@]}"; do
    # 8081 is held for one set at a time, so that a test run elsewhere on this machine waits
    # for one block of runs, never for the whole benchmark.
    take_port
    for variant in "${variants[@]}"; do
      serve "$set" "$variant"
      run_full_update "$set" "$variant"
      run_up_to_date "$set" "$variant"
    done
    serve "$set" nohash
    run_curl "$set"
    run_wget "$set"
    run_ceiling "$set" plain
    run_ceiling "$set" sha256
    run_bare "$set"
    if [ "$set" = many ]; then
      for variant in "${variants[@]}"; do
        serve "$set" "$variant"
        run_phases "$set" "$variant" full
      done
      run_phases "$set" hash current
    fi
    release_port
  done
  take_port
  SERVE_LOG_BYTES=1 "$repo/deploy/nginx/serve.sh" start "$blocks_root" "$nginx_state" 8081 ||
    fail "nginx could not listen on 127.0.0.1:8081"
  blocks_repetition
  release_port
  echo "  repetition $rep of $repetitions done ($((SECONDS - started)) s)"
done

rm -f "$bench/changed.txt"
if [ "$blocks_only" = 0 ]; then
  take_port
  for variant in "${variants[@]}"; do
    serve many "$variant"
    run_changed_update many "$variant"
  done
  release_port
fi
echo "  load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ "$blocks_only" = 1 ]; then
  source <(sed -n '/^paired()/,/^calc()/p' "$repo/bench/report.sh")  # the helpers alone
  say "Results: medians of $repetitions alternating repetitions"
else
  source "$repo/bench/report.sh"
fi
blocks_report
