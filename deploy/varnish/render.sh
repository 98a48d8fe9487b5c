#!/usr/bin/env bash
# Prints merovast.vcl with another origin, for the tests, the demo and a try-out before installing:
#   render.sh http://HOST:PORT/PATH > some.vcl
# PATH is the bucket's path on the backend (a Swift container: /v1/AUTH_<account>/<container>).
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 http://HOST:PORT/PATH" >&2; exit 2; }
if [[ ! "$1" =~ ^http://([A-Za-z0-9.-]+):([0-9]+)(/[A-Za-z0-9_./-]*[A-Za-z0-9_])$ ]]; then
  echo "render: expected http://HOST:PORT/PATH (no trailing slash), got $1" >&2
  exit 1
fi
awk -v host="${BASH_REMATCH[1]}" -v port="${BASH_REMATCH[2]}" -v path="${BASH_REMATCH[3]}" '
  /^[[:space:]]*\.host = / { sub(/".*"/, "\"" host "\""); hosts++ }
  /^[[:space:]]*\.port = / { sub(/".*"/, "\"" port "\""); ports++ }
  index($0, "\"/v1/AUTH_merovast/releases\"") { sub(/"\/v1\/AUTH_merovast\/releases"/, "\"" path "\""); paths++ }
  { print }
  END { if (hosts != 1 || ports != 1 || paths != 2) { print "render: expected one host, one port and two paths" > "/dev/stderr"; exit 1 } }
' "$(dirname "${BASH_SOURCE[0]}")/merovast.vcl"
