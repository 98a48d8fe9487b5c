#!/usr/bin/env bash
# Builds the shipped 32-bit updater on a fresh Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-cache.sh
scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
