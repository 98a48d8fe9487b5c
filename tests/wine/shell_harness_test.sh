#!/usr/bin/env bash
# The shell side of the harness as the end-to-end scripts use it: exit codes and time limits
# of wine_run, Windows paths of build-tree files, and the update server's request log.
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"

failures=0
check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}

dir="$HARNESS_SCRATCH_DIR/install"
mkdir -p "$dir"
cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$dir/Ostravine.exe"

rc=0; wine_run 20 "$dir/Ostravine.exe" || rc=$?
check "a stand-in exits with 0" 0 "$rc"
check "its marker holds its command line" "\"$(windows_path "$dir/Ostravine.exe")\"" "$(tr -d '\r' <"$dir/Ostravine.exe.ran")"

rc=0; wine_run 20 "$HARNESS_STANDIN_DIR/holdfile.exe" "$(windows_path "$dir/missing.pak")" 2>/dev/null || rc=$?
check "a program's own exit code comes back" 2 "$rc"

start=$SECONDS
rc=0; wine_run 2 "$dir/Ostravine.exe" --hold 30 || rc=$?
check "a program over its limit is stopped with 124" 124 "$rc"
check "and stopped in time" 1 "$(( SECONDS - start <= 6 ))"

mkdir -p "$dir/www/update_go"
printf 'update_version=1,0,0,3\r\n' >"$dir/www/update_go/update.htm"
server_ctl mode name=nginx root="$dir/www" >/dev/null
check "no request before the first one" "" "$(server_ctl requests)"
/usr/bin/python3 -c 'import urllib.request as u; u.urlopen(u.Request("http://127.0.0.1:8081/update_go/update.htm", headers={"User-Agent": "Agent7"})).read()'
check "the log shows request line, status and agent" "$(printf 'GET /update_go/update.htm HTTP/1.1\t200\tAgent7')" "$(server_ctl requests)"

[ "$failures" -eq 0 ]
