# Sourced by every Wine test script: the environment of this test run's Wine prefix, display
# and update-server controller, plus helpers to run Windows programs under a time limit.
#
# HARNESS_DIR (required) is the run's state folder in the build tree; CTest sets it.
# HARNESS_WINHELP=1 lets WinHelpA start the real help viewer (it is disabled otherwise).

: "${HARNESS_DIR:?HARNESS_DIR must name the state folder of the test run}"
HARNESS_SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
export WINEPREFIX="$HARNESS_DIR/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
if [ "${HARNESS_WINHELP:-0}" = 1 ]; then
  export WINEDLLOVERRIDES="mscoree,mshtml="
else
  # Without this a missing help file makes WinHelpA wait on a modal box of the viewer.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winhlp32.exe=d"
fi
# Code page 936 needs a real Linux locale, or Chinese file names fail to open.
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# WinINet obeys these even for 127.0.0.1.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ftp_proxy FTP_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

if [ -s "$HARNESS_DIR/display" ]; then
  export DISPLAY=":$(cat "$HARNESS_DIR/display")"
else
  unset DISPLAY
fi

# wine_run SECONDS EXE [ARGS...]: runs a Windows program and returns its exit code, or 124
# when it had to be stopped after SECONDS.
wine_run() {
  local limit=$1 rc=0
  shift
  timeout --kill-after=3 "$limit" "$WINE" "$@" || rc=$?
  if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    echo "wine_run: $(basename "$1") still running after ${limit}s, stopped" >&2
    rc=124
  fi
  return "$rc"
}

# wine_start SECONDS EXE [ARGS...]: starts a Windows program in the background, bounded by
# SECONDS; its Linux process id is left in WINE_STARTED_PID.
wine_start() {
  local limit=$1
  shift
  timeout --kill-after=3 "$limit" "$WINE" "$@" &
  WINE_STARTED_PID=$!
}

# wait_for_file SECONDS PATH: waits until PATH exists; fails when it does not appear in time.
wait_for_file() {
  local deadline=$((SECONDS + $1))
  while [ ! -e "$2" ]; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "wait_for_file: $2 did not appear within $1s" >&2
      return 1
    fi
    sleep 0.05
  done
}

# windows_path LINUX_PATH: the same file as Windows programs name it (the Linux root is Z:).
windows_path() {
  local p
  p=$(realpath -m "$1")
  printf 'Z:%s\n' "${p//\//\\}"
}

# Starts a persistent wineserver and the prefix's own background programs. Their output goes to
# a log: CTest waits for every process that still holds a test's output open.
wine_warm_up() {
  "$WINESERVER" -p600 </dev/null >>"$HARNESS_DIR/wine.log" 2>&1
  timeout 60 "$WINE" cmd.exe /c exit 0 </dev/null >>"$HARNESS_DIR/wine.log" 2>&1
}

# Stops every Windows program of the prefix and warms it up again, so that a program left
# running by a failed test cannot disturb the next one.
wine_reset_processes() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  wine_warm_up
}

# shellcheck source=server.sh
source "$HARNESS_SCRIPTS/server.sh"

# window_wait SECONDS CAPTION: waits for a window captioned exactly CAPTION and prints its X
# window id; fails when none appears in time.
window_wait() {
  local deadline=$((SECONDS + $1)) id
  while :; do
    id=$(xdotool search --name "^$2\$" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.1
  done
}

# window_press ID KEY: gives the window the keyboard and presses KEY, as a person would
# (Return answers a message box). A window that is found but not yet mapped refuses the focus
# (BadMatch, and xdotool ends before the key): on a busy machine that happens, so try again.
window_press() {
  local try
  for try in 1 2 3 4 5 6 7 8 9; do
    xdotool windowfocus --sync "$1" key "$2" 2>/dev/null && return 0
    sleep 0.3
  done
  xdotool windowfocus --sync "$1" key "$2"
}
