#!/usr/bin/env bash
# Builds the updater that installations of the last release before the store line run, the one kept
# here as Merovast.exe for the rows that meet store releases with it:
#   older/build.sh [REVISION]   (default 6e03766, the last revision without the store line)
# The 64-bit build the Wine tests run (preset win64, no built-in key, 127.0.0.1), stripped. It
# needs the repository's history; a build is not byte for byte the kept one (the PE time stamp).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(git -C "$here" rev-parse --show-toplevel)
revision=${1:-6e03766}
work=$(mktemp -d)
trap 'git -C "$repo" worktree remove --force "$work/tree" 2>/dev/null || true; rm -rf "$work"' EXIT
git -C "$repo" worktree add -q --detach "$work/tree" "$revision"
cmake -S "$work/tree" -B "$work/build" -G Ninja --toolchain "$work/tree/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINE_HARNESS_RUNS=OFF >"$work/build.log"
cmake --build "$work/build" --target Merovast -j2 >>"$work/build.log" || { tail -n 30 "$work/build.log" >&2; exit 1; }
x86_64-w64-mingw32-strip -o "$here/Merovast.exe" "$work/build/app/Merovast.exe"
echo "older/build.sh: $here/Merovast.exe from $(git -C "$repo" rev-parse --short "$revision")"
