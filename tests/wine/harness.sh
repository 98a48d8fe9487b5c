#!/usr/bin/env bash
# The CTest fixture of the Wine tests, under HARNESS_DIR:
#   harness.sh setup    a fresh prefix (copied from a template made once per checkout, in
#                       build/wine-template, for every build tree), Xvfb on a free display and a
#                       persistent wineserver
#   harness.sh cleanup  stops all of them and removes the prefix (HARNESS_KEEP_PREFIX=1 keeps it)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# The template depends only on Wine, the locale and the settings below, never on a build: the
# presets' trees, the demo and the benchmark share it.
TEMPLATE="$(cd "$HARNESS_SCRIPTS/../.." && pwd)/build/wine-template"
# Changing anything that goes into the template changes this, so old templates are remade.
TEMPLATE_STAMP="$("$WINE" --version) $LANG fonts+wqy+x11-unmanaged v1"

make_template() {
  echo "harness: creating the Wine prefix template (about 15 s)"
  local made="$TEMPLATE.new"
  rm -rf "$made"
  (
    export WINEPREFIX="$made"
    unset DISPLAY
    timeout 180 "$WINE" wineboot --init
    # Without a window manager every window otherwise waits 2 s for one.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
    local font
    for font in SimSun 宋体; do
      "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
        /v "$font" /t REG_SZ /d 'WenQuanYi Micro Hei' /f
    done
    "$WINESERVER" -w
  ) >"$TEMPLATE.log" 2>&1 || { cat "$TEMPLATE.log" >&2; return 1; }
  # Wine's own fonts draw the caption buttons.
  cp /usr/share/wine/fonts/*.ttf "$made/drive_c/windows/Fonts/"
  echo "$TEMPLATE_STAMP" >"$made/harness-stamp"
  rm -rf "$TEMPLATE"
  mv "$made" "$TEMPLATE"
}

stop_all() {
  server_stop
  if [ -d "$WINEPREFIX" ]; then
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
  fi
  if [ -f "$HARNESS_DIR/xvfb.pid" ]; then
    # A pid file left by a run that never cleaned up may name another process by now.
    local pid
    pid=$(cat "$HARNESS_DIR/xvfb.pid")
    case "$(cat "/proc/$pid/comm" 2>/dev/null)" in
      timeout | Xvfb) kill "$pid" 2>/dev/null || true ;;
    esac
    rm -f "$HARNESS_DIR/xvfb.pid"
  fi
  rm -f "$HARNESS_DIR/display"
}

start_xvfb() {
  local fifo="$HARNESS_DIR/xvfb.displayfd" i
  rm -f "$fifo"
  mkfifo "$fifo"
  # Xvfb picks a free display itself and writes its number once it accepts clients; bounded in
  # case the cleanup never runs.
  timeout 3h Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" </dev/null >"$HARNESS_DIR/xvfb.log" 2>&1 &
  echo $! >"$HARNESS_DIR/xvfb.pid"
  if ! read -r -t 20 display <"$fifo"; then
    echo "harness: Xvfb did not start" >&2
    cat "$HARNESS_DIR/xvfb.log" >&2
    return 1
  fi
  rm -f "$fifo"
  echo "$display" >"$HARNESS_DIR/display"
  export DISPLAY=":$display"
}

setup() {
  mkdir -p "$HARNESS_DIR"
  stop_all
  rm -rf "$WINEPREFIX" "$HARNESS_DIR/scratch" "$HARNESS_DIR/wine.log"
  (
    # Another tree's run may be making or copying the template at the same moment.
    flock 9
    if [ "$(cat "$TEMPLATE/harness-stamp" 2>/dev/null)" != "$TEMPLATE_STAMP" ]; then
      make_template
    fi
    cp -a "$TEMPLATE" "$WINEPREFIX"
  ) 9>"$TEMPLATE.lock"
  start_xvfb
  # The first program of a prefix is slow; take that here rather than in a timed test.
  wine_warm_up
  echo "harness: prefix $WINEPREFIX, display $DISPLAY"
}

cleanup() {
  stop_all
  [ "${HARNESS_KEEP_PREFIX:-0}" = 1 ] || rm -rf "$WINEPREFIX"
}

case "${1:-}" in
  setup) setup ;;
  cleanup) cleanup ;;
  *) echo "usage: $0 setup|cleanup" >&2; exit 2 ;;
esac
