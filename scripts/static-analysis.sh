#!/usr/bin/env bash
# Runs clang-tidy-14 (.clang-tidy, tests/.clang-tidy) and cppcheck (.cppcheck-suppressions,
# inline suppressions with their reasons) on the project's own code and fails on any finding:
#   - the portable engine update/ with its host side update/host/, pe/, tools/ and the host tests
#     as the host build compiles them (build/native);
#   - the fuzz targets as the fuzz build compiles them (build/fuzz);
#   - app/ and the engine's Windows side update/windows/ as the 64-bit mingw-w64 build compiles them
#     (build/win64), analysed by clang for x86_64-w64-mingw32 (scripts/analysis_db.py).
#   scripts/static-analysis.sh [--configured]   (--configured: the three presets are configured
#                                                already; scripts/test.sh builds them meanwhile)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Configuring writes the compile databases; nothing needs to be built.
if [ "${1:-}" != --configured ]; then
  cmake --preset native >/dev/null
  cmake --preset win64 >/dev/null
  cmake --preset fuzz >/dev/null
fi
out=build/analysis
mkdir -p "$out"
python3 scripts/analysis_db.py select build/native "$out/native" update pe tools tests >"$out/native.files"
python3 scripts/analysis_db.py select build/fuzz "$out/fuzz" fuzz >"$out/fuzz.files"
python3 scripts/analysis_db.py windows build/win64 "$out/windows" >"$out/windows.files"

status=0
for db in native fuzz windows; do
  echo "static-analysis: clang-tidy on $(wc -l <"$out/$db.files") files ($db)"
  if ! xargs -P2 -n1 clang-tidy-14 --quiet -p "$out/$db" <"$out/$db.files" >"$out/$db.tidy.log" 2>&1; then
    grep -E '(warning|error):' "$out/$db.tidy.log" >&2 || cat "$out/$db.tidy.log" >&2
    status=1
  fi
done

for db in native fuzz windows; do
  echo "static-analysis: cppcheck ($db)"
  if [ "$db" = windows ]; then platform=win64; else platform=unix64; fi
  # googletest: the tests' TEST and TEST_F are macros cppcheck cannot parse without their definitions.
  if ! cppcheck --project="$out/$db/compile_commands.json" --std=c++20 --library=windows --library=googletest \
    --platform="$platform" \
    --error-exitcode=1 --inline-suppr --enable=warning,style,performance,portability \
    --suppressions-list=.cppcheck-suppressions -j2 --quiet \
    --template='{file}:{line}: {severity}: {id}: {message}' 2>"$out/$db.cppcheck.log"; then
    cat "$out/$db.cppcheck.log" >&2
    status=1
  fi
done

if [ "$status" -ne 0 ]; then
  echo "static-analysis: findings above" >&2
  exit 1
fi
echo "static-analysis: no findings"
