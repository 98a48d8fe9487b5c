#!/usr/bin/env bash
# Prints the server block of merovast.conf serving ROOT on 127.0.0.1:PORT, for the tests, the
# demo and a try-out before installing:  render.sh ROOT PORT > some.conf
# The output goes inside an http block, as conf.d/*.conf does.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 ROOT PORT" >&2; exit 2; }
root=$(realpath "$1")
port=$2
case "$root" in *'"'* | *'$'* | *\\* | *'&'*) echo "render: a root with \" $ \\ or & cannot be written into the block: $root" >&2; exit 1 ;; esac
awk -v root="$root" -v port="$port" '
  /^[[:space:]]*listen[[:space:]]/ { sub(/listen[[:space:]].*;/, "listen 127.0.0.1:" port ";"); listens++ }
  /^[[:space:]]*root[[:space:]]/ { sub(/root[[:space:]].*;/, "root \"" root "\";"); roots++ }
  { print }
  END { if (listens != 1 || roots != 1) { print "render: expected one listen and one root line" > "/dev/stderr"; exit 1 } }
' "$(dirname "${BASH_SOURCE[0]}")/merovast.conf"
