#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the benchmark need on Debian 12 (run as root).
# Only 64-bit Wine is used: 32-bit programs cannot run on these machines.
set -euo pipefail
packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev libssl-dev libgnutls30
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine64 wine64-tools fonts-wine xvfb xdotool imagemagick
  nginx squid python3 openssl e2fsprogs locales-all fonts-wqy-microhei make curl clang-format-14
  wget time clang-14 libclang-rt-14-dev clang-tidy-14 cppcheck zsync ccache
  swift-proxy swift-object swift-container swift-account memcached varnish rclone
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (${missing[*]}); run as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The servers are run by the tests with their own configuration, never as the system services,
# which installing the packages may have started. Other processes (other test runs) are left alone.
if command -v systemctl >/dev/null 2>&1; then
  systemctl disable --now nginx squid memcached varnish varnishncsa swift-proxy swift-account \
    swift-container swift-object >/dev/null 2>&1 || true
fi
for pidfile in /run/nginx.pid /run/squid.pid /run/memcached/memcached.pid /run/varnishd.pid; do
  if [ -f "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; fi
done
