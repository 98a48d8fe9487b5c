#!/usr/bin/env bash
# Runs one Wine test inside the harness fixture (CTest calls this; see WineHarness.cmake):
#   run-test.sh --name NAME [--timeout SECONDS] [--server] -- PROGRAM.exe|SCRIPT [ARGS...]
# A .exe runs under Wine, anything else as a bash script. The exit code is the test's.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

name="" limit=120 server=0
while [ $# -gt 0 ]; do
  case "$1" in
    --name) name=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --server) server=1; shift ;;
    --) shift; break ;;
    *) echo "run-test: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -n "$name" ] && [ $# -gt 0 ] || { echo "usage: $0 --name NAME [--timeout S] [--server] -- COMMAND..." >&2; exit 2; }
if [ ! -s "$HARNESS_DIR/display" ]; then
  echo "run-test: the Wine harness is not set up (the wine_harness_setup fixture did not run)" >&2
  exit 1
fi

export HARNESS_SCRATCH_DIR="$HARNESS_DIR/scratch/$name"
# An earlier run may have been stopped before it undid its immutable files.
[ -d "$HARNESS_SCRATCH_DIR" ] && chattr -R -i "$HARNESS_SCRATCH_DIR" >/dev/null 2>&1
rm -rf "$HARNESS_SCRATCH_DIR"
mkdir -p "$HARNESS_SCRATCH_DIR"

if [ "$server" = 1 ]; then
  server_start $((limit + 30)) || exit 1
fi
rc=0
case "$1" in
  *.exe) wine_run "$limit" "$@" || rc=$? ;;
  *)
    timeout --kill-after=5 "$limit" bash "$@" || rc=$?
    [ "$rc" -eq 124 ] && echo "run-test: $1 still running after ${limit}s, stopped" >&2
    ;;
esac
# A script stopped at its limit never ran its own cleanup, and the servers it started detach from
# it: stop each one by the state folder it keeps under the scratch folder, or it holds its port.
if [ "$rc" -ne 0 ]; then
  deploy="$HARNESS_SCRIPTS/../../deploy"
  while IFS= read -r -d '' found; do
    case "$found" in
      */nginx.pid) "$deploy/nginx/serve.sh" stop "$(dirname "$found")" ;;
      */varnishd.pid) "$deploy/varnish/serve.sh" stop "$(dirname "$found")" ;;
      */pids) bash "$HARNESS_SCRIPTS/store_servers.sh" stop "$(dirname "$found")" ;;
    esac
  done < <(find "$HARNESS_SCRATCH_DIR" \( -name nginx.pid -o -name varnishd.pid -o -name pids \) -print0 2>/dev/null)
fi
[ "$server" = 1 ] && server_stop
# A failed test may have left programs running that would disturb the next one.
[ "$rc" -eq 0 ] || wine_reset_processes
exit "$rc"
