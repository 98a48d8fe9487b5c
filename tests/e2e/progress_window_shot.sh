#!/usr/bin/env bash
# A picture of the progress window with its Chinese notice, kept in the build tree for a
# person to look at: progress_window_shot.sh MEROVAST_EXE PICTURE.png
# The manifest is answered late, so the window is up and painted while the picture is taken.
set -uo pipefail
source "$(dirname "$0")/../wine/wine-env.sh"

updater=$1 picture=$2
dir="$HARNESS_SCRATCH_DIR/install"
mkdir -p "$dir" "$(dirname "$picture")"
rm -f "$picture"
cp "$updater" "$dir/Merovast.exe"
cp "$HARNESS_STANDIN_DIR/standin-zh.exe" "$dir/Ostravine.exe"

# The current release: the updater starts the target and ends once the answer arrives.
manifest=$(printf 'update_version=1,0,0,3\r\nupdate_filesize=%s\r\nupdate_url=http://127.0.0.1:8081/release' \
  "$(stat -c %s "$dir/Ostravine.exe")")$'\r\n'

server_ctl mode name=faults >/dev/null || exit 1
server_ctl rule path=/update_go/update.htm delay=4 body="$manifest" >/dev/null || exit 1

wine_start 30 "$dir/Merovast.exe"
sleep 2.5
import -window root "$picture" || { echo "FAILED: no screenshot"; exit 1; }

failures=0
# The window is centred on the 1024x768 screen; its notice runs through the middle.
read -r darkest lightest < <(convert "$picture" -crop 200x16+412+376 -colorspace Gray \
  -format '%[fx:minima] %[fx:maxima]\n' info:)
if awk -v d="$darkest" -v l="$lightest" 'BEGIN { exit !(d < 0.4 && l > 0.8) }'; then
  echo "ok: dark text on a light window in the middle of the screen ($darkest..$lightest)"
else
  echo "FAILED: no notice in the middle of the screen (grey levels $darkest..$lightest)"
  failures=1
fi

wait_for_file 15 "$dir/Ostravine.exe.ran" || failures=1
wait "$WINE_STARTED_PID" || { echo "FAILED: the updater did not end by itself"; failures=1; }
echo "picture: $picture"
[ "$failures" -eq 0 ]
