#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine: installs what is missing (as root),
# builds all configurations and runs the host, sanitizer and Wine suites (the 32-bit build
# is built and inspected, never run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-format.sh

for preset in native native-asan win32 win64 win64-signed; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

ctest --preset native
ctest --preset native-asan
ctest --preset win64
ctest --preset win64-signed
