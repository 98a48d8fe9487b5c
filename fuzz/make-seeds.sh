#!/usr/bin/env bash
# Writes the committed seed corpora under fuzz/corpus/: variants of the publisher's golden
# manifests (double-byte names, refused and missing entries, a line cut after a lead byte, a zero
# byte), installation setups for the update run (the bytes after a zero byte, see
# update_run_fuzz.cpp), and the 32- and 64-bit test images of the PE reader, built by the native
# build from tests/pe/fixture with mingw-w64. scripts/fuzz.sh adds the golden manifests themselves
# and gives every manifest seed to the update run as well.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=fuzz/corpus
rm -rf "$corpus"
mkdir -p "$corpus/manifest" "$corpus/update_run" "$corpus/pe"

header='update_version=1,0,0,4\r\nupdate_filesize=16384\r\nupdate_url=http://updates.example:8081/release\r\n'
entry() { printf 'update_name%s=%s\r\nupdate_from%s=%s\r\nupdate_to%s=%s\r\n' "$1" "$2" "$1" "$3" "$1" "$4"; }
variant() {
  local name=$1
  shift
  { printf "$header"; "$@"; } >"$corpus/manifest/$name"
}
double_byte() {
  printf 'update_size=2\r\n'
  entry 0 $'\xd3\xce\xcf\xb7.pak' /data $'\\\xca\xfd\xbe\xdd'
  entry 1 $'a\x95\\b.dat' '' $'\\x\x95\\'
}
refused() { printf 'update_size=3\r\n'; entry 0 a.txt '' ''; entry 1 b.txt '' '\..\..\Windows'; entry 2 NUL.txt '' '\d'; }
missing() { printf 'update_size=4\r\n'; entry 0 a.txt '' '/x'; printf 'update_name1=b\r\nupdate_to1=\r\n'; }
lead_byte_line() { printf 'update_size=1\r\n'; entry 0 $'x\xca' '' ''; }
zero_byte() { printf 'update_size=1\r\n'; printf 'update_name0=a\0\r\n'; }
# Signed with an expiry: what a key build checks before the up-to-date test.
expiring() {
  printf 'update_expires=2027-01-31T00:00:00Z\r\nupdate_size=1\r\n'
  entry 0 a.txt '' ''
  printf 'update_hash0=%064d 1\r\nupdate_signature=%s==\r\n' 0 "$(printf 'A%.0s' $(seq 86))"
}
# The updater's own file, spelt as Windows takes it, with the hash of what the fuzz server sends.
own_file() {
  entry 0 merovast.EXE. '' '\.'
  printf 'update_hash0=%s 51\r\n' "$(printf '<http://updates.example:8081/release/merovast.EXE.>' | sha256sum | cut -c1-64)"
}
own_entry() { printf 'update_size=3\r\n'; own_file; entry 1 Merovast.exe.old '' ''; entry 2 Merovast.exe '' '\sub'; }
own_entry_signed() { printf 'update_size=1\r\n'; own_file; printf 'update_signature=%s==\r\n' "$(printf 'A%.0s' {1..86})"; }
variant double-byte.htm double_byte
variant refused.htm refused
variant missing.htm missing
variant lead-byte-line.htm lead_byte_line
variant zero-byte.htm zero_byte
variant expiring.htm expiring
variant own-entry.htm own_entry
variant own-entry-signed.htm own_entry_signed
# A store after an expiry line: every file from the store by its hash; and a store feature that no
# updater knows yet, and a store line that an expiry line follows, which are refused.
store() {
  printf 'update_expires=2027-01-31T00:00:00Z\r\nupdate_store=http://cdn.example/o\r\nupdate_size=2\r\n'
  entry 0 $'\xb5\xd8\xcd\xbc.pak' /data '\data'
  printf 'update_hash0=%064d 1\r\n' 0
  entry 1 b.txt '' ''
  printf 'update_hash1=%064d 2\r\nupdate_map1=.maps/b %064d 7\r\n' 1 2
}
store_feature() { printf 'update_store=http://cdn.example/o deltas\r\nupdate_size=0\r\n'; }
store_expiring() { printf 'update_store=http://cdn.example/o\r\nupdate_expires=2027-01-31T00:00:00Z\r\nupdate_size=0\r\n'; }
# Three files of one pack, two of them one request apart from the third by a small gap, with the
# hash lines of what the fuzz server sends for their bytes, so the run can succeed.
packed() {
  local pack i
  pack=$(printf 'c%.0s' {1..64})
  printf 'update_store=http://cdn.example/o packs\r\nupdate_size=3\r\n'
  for i in "0 a.dat /data '\\data' 0 10" "1 b.dat '' '' 10 20" "2 c.dat '' '' 100 5"; do
    eval "set -- $i"
    entry "$1" "$2" "$3" "$4"
    printf 'update_hash%s=%s %s\r\nupdate_pack%s=%s 1000 %s\r\n' "$1" "$(python3 -c '
import hashlib, sys
body = ("<http://cdn.example/o/cc/" + "c" * 64 + ">").encode()
offset, length = int(sys.argv[1]), int(sys.argv[2])
print(hashlib.sha256(bytes(body[(offset + i) % len(body)] for i in range(length))).hexdigest())' "$5" "$6")" "$6" "$1" "$pack" "$5"
  done
}
variant store.htm store
variant packed.htm packed
variant store-feature.htm store_feature
variant store-expiring.htm store_expiring

# The update run: a few setups of these manifests and the golden ones.
setup() { { cat "$corpus/manifest/$1.htm" 2>/dev/null || cat "tests/publisher/golden/$1.htm"; printf "\0$3"; } >"$corpus/update_run/$1-$2"; }
setup sample current '\x03'
setup sample second-download-fails '\x00\x81'
setup sample disk-full-in-double-byte-folder '\x04\xc0'
setup double-byte trail-5c-folder '\x08'
setup release network-share '\x0c\x83'
setup expiring keyed-signature-holds '\x30'
# A manifest that names a release index; the bytes after the setup are the index, "@INDEX@" its
# SHA-256 and size (see update_run_fuzz.cpp). Its files' hash lines hold what the fuzz server
# sends for them, so the run can succeed.
served_hash() {
  local body="<http://updates.example:8081/release$1>"
  printf '%s %s' "$(printf '%s' "$body" | sha256sum | cut -d' ' -f1)" "${#body}"
}
{
  printf "$header"'update_size=1\r\nupdate_index=.index @INDEX@\r\n\0\0\0'
  printf 'update_size=2\r\n'
  entry 0 a.txt /data '\data'
  printf 'update_hash0=%s\r\n' "$(served_hash /data/a.txt)"
  entry 1 Ostravine.exe '' ''
  printf 'update_hash1=%s\r\n' "$(served_hash /Ostravine.exe)"
} >"$corpus/update_run/index-release"
# A release that drops files: its removal lines after the last entry, each "@GONE@" the hash line of
# what the fuzz target places at even-numbered lines' paths (a user's own bytes at odd ones); the
# second list names the entry's own file in another case, which refuses the manifest whole.
removals() {
  printf "$header"'update_size=2\r\n'
  entry 0 a.txt /data '\data'
  printf 'update_hash0=%s\r\n' "$(served_hash /data/a.txt)"
  entry 1 Ostravine.exe '' ''
  printf 'update_hash1=%s\r\nupdate_removed=%s\r\n' "$(served_hash /Ostravine.exe)" "$1"
  printf 'update_gone0=\\data\\old map.dat @GONE@\r\nupdate_gone1=\\data\\mine.dat @GONE@\r\n'
  [ "$1" = 2 ] || printf 'update_gone2=\\DATA\\A.TXT. @GONE@\r\n'
  printf '\0\0'
}
removals 2 >"$corpus/update_run/removal-lines"
removals 3 >"$corpus/update_run/removal-line-names-an-entry"
setup own-entry-signed keyed '\x30'
setup own-entry unkeyed '\x00'
setup store unkeyed '\x00'
setup store current '\x03'
setup packed unkeyed '\x00'

cmake --preset native >/dev/null
cmake --build --preset native --target pe_fixtures
cp build/native/tests/pe/fixture/fixture32.exe build/native/tests/pe/fixture/fixture64.exe "$corpus/pe/"
du -sh "$corpus"
