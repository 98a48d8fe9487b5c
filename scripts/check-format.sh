#!/usr/bin/env bash
# Fails when a tracked C or C++ file is not laid out as .clang-format says (clang-format-14,
# pinned: another version formats differently). With --fix, reformats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h' '*.hpp')
if [ "${1:-}" = --fix ]; then
  clang-format-14 -i "${files[@]}"
  exit 0
fi
clang-format-14 --dry-run --Werror "${files[@]}"
echo "format: ${#files[@]} files laid out as .clang-format says"
