#!/usr/bin/env bash
# The sample nginx configuration serving a published release, as an updater would ask for it:
#   nginx_config_test.sh MEROVAST_PUBLISH TARGET.exe
# Every planned download of a staged release (its store's objects) comes back byte for byte even
# when the client accepts gzip, the manifest is not to be cached, the store and the version folders
# are cached for good, and whatever is not a file, or is a dot-file or a record, is a plain 404.
set -uo pipefail
publish=$1 target=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
serve="$repo/deploy/nginx/serve.sh"

work=$(mktemp -d)
trap '"$serve" stop "$work/nginx"; rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
release="$work/www/release"
mkdir -p "$release/data/maps" "$work/www/update_go"
cp "$target" "$release/Ostravine.exe"
# Types that gzip and charset would pick, and bytes a text filter would spoil.
seq 1 20000 >"$release/data/readme.html"
printf 'line one\r\nline two\n\0\xff\xfe' >"$release/data/notes.txt"
head -c 300000 /dev/urandom >"$release/data/maps/world.map"
: >"$release/data/maps/empty.map"
manifest="$work/www/update_go/update.htm"
"$publish" stage "$release" "$work/www" "http://127.0.0.1:$port" --store --folders --no-packs >/dev/null || exit 1
# What a staging run cut short and the manifest's temporary file leave behind.
mkdir -p "$work/www/.stage-x"
echo secret | tee "$work/www/.stage-x/f" "$work/www/v/1,0,0,4/.hidden" "$work/www/update_go/.update.htm-abc" >/dev/null

"$serve" start "$work/www" "$work/nginx" "$port" || exit 1
# The block render.sh prints is the one serve.sh runs, and nginx itself finds it sound.
check "serve.sh runs the block render.sh prints" "" \
  "$(diff <("$repo/deploy/nginx/render.sh" "$work/www" "$port") "$work/nginx/merovast.conf")"
check "nginx -t accepts the rendered block" "0" \
  "$(nginx -t -q -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" >/dev/null 2>&1; echo $?)"

fetch() {  # fetch URL OUTPUT: prints status, Content-Encoding, Location and Cache-Control
  curl -s --max-time 10 -H 'Accept-Encoding: gzip, deflate' -D "$work/headers" -o "$2" "$1"
  tr -d '\r' <"$work/headers" | awk '
    NR == 1 { status = $2 }
    tolower($1) == "content-encoding:" { encoding = $2 }
    tolower($1) == "location:" { location = $2 }
    tolower($1) == "cache-control:" { sub(/^[^:]*: /, ""); cache = $0 }
    END { printf "%s|%s|%s|%s\n", status, encoding, location, cache }'
}

check "the manifest is served as written and not to be cached" "200|||no-cache, no-store" \
  "$(fetch "http://127.0.0.1:$port/update_go/update.htm" "$work/body")"
cmp -s "$manifest" "$work/body" || { echo "FAILED: the manifest's bytes changed on the way"; failures=$((failures + 1)); }

downloads=0
while IFS= read -r line; do
  url=${line%% -> *} local=${line#* -> <install>\\}
  file="$release/${local//\\//}"
  check "$url is a plain 200, cached for good" "200|||public, max-age=31536000, immutable" "$(fetch "$url" "$work/body")"
  cmp -s "$file" "$work/body" || { echo "FAILED: $url differs from $file"; failures=$((failures + 1)); }
  downloads=$((downloads + 1))
done < <("$publish" check "$manifest" | grep ' -> ')
check "every file of the release was asked for" 5 "$downloads"

check "a file of a version folder is cached for good" "200|||public, max-age=31536000, immutable" \
  "$(fetch "http://127.0.0.1:$port/v/1,0,0,4/data/notes.txt" "$work/body")"
cmp -s "$release/data/notes.txt" "$work/body" || { echo "FAILED: the version folder's notes.txt differs"; failures=$((failures + 1)); }
check "a file outside the version folders is a plain 200 as before" "200|||" \
  "$(fetch "http://127.0.0.1:$port/release/data/notes.txt" "$work/body")"
for path in /release/data/missing.map /release/data /release/data/ /release/ / /update_go/ /update_go /v/ /v/1,0,0,4/ \
  /v/1,0,0,4/missing /o/ /o/00/missing /releases/000001.htm /.stage-x/f /v/1,0,0,4/.hidden /update_go/.update.htm-abc; do
  check "$path is a plain 404" "404|||" "$(fetch "http://127.0.0.1:$port$path" "$work/body")"
done

# One byte range of a released file, as the updater asks for blocks: exactly those bytes; two
# ranges at once are answered with the whole file.
ranged() {  # ranged RANGE: status, Content-Range and body bytes
  curl -s --max-time 10 -H "Range: bytes=$1" -D "$work/headers" -o "$work/body" \
    "http://127.0.0.1:$port/v/1,0,0,4/data/maps/world.map"
  printf '%s|%s|%s\n' "$(head -n 1 "$work/headers" | cut -d' ' -f2)" \
    "$(tr -d '\r' <"$work/headers" | awk 'tolower($1) == "content-range:" { print $2, $3 }')" "$(stat -c %s "$work/body")"
}
check "a single range is a 206 of exactly those bytes" "206|bytes 1000-1999/300000|1000" "$(ranged 1000-1999)"
cmp -s <(tail -c +1001 "$release/data/maps/world.map" | head -c 1000) "$work/body" ||
  { echo "FAILED: the range's bytes differ from the file's"; failures=$((failures + 1)); }
check "two ranges at once are the whole file" "200||300000" "$(ranged 0-9,100-109)"

# nginx logs a request just after its last byte went out.
for _ in $(seq 50); do [ "$(wc -l <"$work/nginx/access.log")" -ge 26 ] && break; sleep 0.02; done
check "the log has one line per request" 26 "$(wc -l <"$work/nginx/access.log")"
check "with its request line, status and agent" "GET /update_go/update.htm HTTP/1.1	200	curl" \
  "$(head -n 1 "$work/nginx/access.log" | sed "s|curl/.*|curl|")"

[ "$failures" -eq 0 ]
