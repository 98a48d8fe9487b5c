# The benchmark's release sets and runs; sourced by bench/run.sh, which sets bench, repo,
# publish, updater, programs, variants and (while measuring) rep and samples.

url_base=http://127.0.0.1:8081
manifest_url=$url_base/update_go/update.htm
nginx_state=$bench/nginx
port_held=0

release_dir() { echo "$bench/releases/$1"; }  # release_dir SET: the release folder as installed
web_root() { echo "$bench/www/$1-$2"; }        # web_root SET VARIANT: what nginx serves
plan() { echo "$bench/www/$1.plan"; }          # what the updater downloads: URL, path, bytes, SHA-256
planned_count() { wc -l <"$(plan "$1")"; }
release_bytes() { awk -F'\t' '{ n += $3 } END { print n + 0 }' "$(plan "$1")"; }
manifest_bytes() { stat -c %s "$(web_root "$1" "$2")/update_go/update.htm"; }  # manifest_bytes SET VARIANT
# version_path SET: the version folder the manifest names, as a path below the web root ("v/2,0,0,1/").
version_path() {
  awk -F'\t' '$2 == "Ostravine.exe" { sub("^[a-z]*://[^/]*/", "", $1); sub("Ostravine[.]exe$", "", $1); print $1 }' "$(plan "$1")"
}

# make_release SET BYTES: the target (64 KiB) and one file of BYTES, or with 0, 29 more files of
# 64 KiB. Random bytes: nothing on the way can make them smaller.
make_release() {
  local release
  release=$(release_dir "$1")
  rm -rf "$release"
  mkdir -p "$release/data"
  [ "$(stat -c %s "$programs/bench-target.exe")" -le 65536 ] || fail "bench-target.exe is larger than 64 KiB"
  cp "$programs/bench-target.exe" "$release/Ostravine.exe"
  truncate -s 65536 "$release/Ostravine.exe"
  if [ "$2" -gt 0 ]; then
    head -c "$2" /dev/urandom >"$release/data/$1.bin"
  else
    local i
    for i in $(seq -w 1 29); do head -c 65536 /dev/urandom >"$release/data/f$i.bin"; done
  fi
}

# make_thousands: 4,999 files of 1 to 64 KiB in four folder levels and the target (64 KiB); sizes
# and bytes drawn from a fixed seed (the index set and the packs set).
make_thousands() {
  local release
  release=$(release_dir thousands)
  rm -rf "$release"
  mkdir -p "$release"
  cp "$programs/bench-target.exe" "$release/Ostravine.exe"
  truncate -s 65536 "$release/Ostravine.exe"
  python3 - "$release" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(16)
for i in range(4999):
    # Four levels: the top, a/, a/b/, a/b/c/; every folder holds files of its own.
    depth = i % 4
    parts = [f"d{i % 7}", f"e{i % 5}", f"f{i % 3}"][:depth]
    folder = os.path.join(root, *parts)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"file{i:04d}.bin"), "wb") as out:
        out.write(rng.randbytes(rng.randint(1024, 65536)))
PY
}

# publish_set SET VARIANT: stages SET's release into a web root of its own for VARIANT (nohash:
# without hash lines, hash: with them), as a publisher does: the files under v/<version>/, the
# manifest at update_go/update.htm. This is the one place that knows the publisher's commands.
publish_set() {
  local set=$1 variant=$2 root option=() planned line address path
  root=$(web_root "$set" "$variant")
  rm -rf "$root"
  mkdir -p "$root"
  [ "$variant" = nohash ] && option=(--no-hashes)
  "$publish" stage "$(release_dir "$set")" "$root" "$url_base" "${option[@]}" >"$bench/stage.out" 2>&1 ||
    { cat "$bench/stage.out" >&2; fail "merovast-publish stage refused release set $set ($variant)"; }
  "$publish" check "$root/update_go/update.htm" --release "$(release_dir "$set")" --web-root "$root" >"$bench/check.out" 2>&1 ||
    { cat "$bench/check.out" >&2; fail "merovast-publish check finds fault with the manifest of $set ($variant)"; }
  planned=$(mktemp)
  grep ' -> ' "$bench/check.out" | while IFS= read -r line; do
    address=${line%% -> *} path=${line#* -> <install>\\}
    path=${path%% *} path=${path//\\//}
    printf '%s\t%s\t%s\t%s\n' "$address" "$path" "$(stat -c %s "$root/${address#"$url_base"/}")" \
      "$(sha256sum <"$(release_dir "$set")/$path" | cut -d' ' -f1)"
  done >"$planned"
  grep -qv "^$url_base/v/[^/]*/" "$planned" && fail "the manifest of $set ($variant) names files outside $url_base/v/<version>/"
  [ "$(wc -l <"$planned")" -eq "$(find "$(release_dir "$set")" -type f | wc -l)" ] ||
    fail "the manifest of $set ($variant) does not list every file of the release"
  if [ ! -e "$(plan "$set")" ]; then  # the first variant staged
    mv "$planned" "$(plan "$set")"
  else
    cmp -s "$planned" "$(plan "$set")" || fail "the manifests of $set plan different downloads"
    rm -f "$planned"
  fi
}

# --- the port, the server ------------------------------------------------------------------

# The tests' update-server controller is the machine-wide lock on 8081: it waits (45 s) for a
# test run that holds it, then leaves 8081 to our nginx.
take_port() {
  local attempt
  for attempt in $(seq 10); do
    if server_start 300 2>>"$bench/port.log"; then
      server_ctl mode name=down >/dev/null
      port_held=1
      return 0
    fi
    echo "  (127.0.0.1:8081 is held by another run on this machine; waiting, attempt $attempt)"
  done
  fail "127.0.0.1:8081 stayed busy (log: $bench/port.log)"
}

release_port() {
  "$repo/deploy/nginx/serve.sh" stop "$nginx_state" || true
  if [ "$port_held" = 1 ]; then server_stop; fi
  port_held=0
}

# serve SET VARIANT: nginx serves that web root; its log gets the body bytes of every answer.
serve() {
  SERVE_LOG_BYTES=1 "$repo/deploy/nginx/serve.sh" start "$(web_root "$1" "$2")" "$nginx_state" 8081 ||
    fail "nginx could not listen on 127.0.0.1:8081"
}

# The log of the server on 8081: nginx's, or another's that the caller names.
server_log=$nginx_state/access.log
logged() { wc -l <"$server_log"; }

# requests_after LINES COUNT: the log lines after the first LINES, once COUNT of them are there
# (nginx logs a request just after its last byte went out).
requests_after() {
  local i
  for i in $(seq 100); do [ "$(($(logged) - $1))" -ge "$2" ] && break; sleep 0.02; done
  tail -n +"$(($1 + 1))" "$server_log"
}

# --- measuring -----------------------------------------------------------------------------

# wine_prefix SECONDS SAMPLES: Xvfb and a Wine prefix (build/bench/harness), wine_line (how the
# Windows tests start a program, wine_run in tests/wine/wine-env.sh, as one command that GNU time
# can run, stopped after SECONDS) and SAMPLES, the file of measurements, empty.
wine_prefix() {
  quietly "$bench/harness.log" bash "$repo/tests/wine/harness.sh" setup
  source "$repo/tests/wine/wine-env.sh"
  wine_line=(timeout --kill-after=3 "$1" "$WINE")
  samples=$2
  printf 'measurement\trepetition\twall_us\tpeak_rss_kib\n' >"$samples"
}

# measure NAME COMMAND...: runs COMMAND once under GNU time and adds its wall time and peak
# resident set to the samples.
measure() {
  local name=$1 start end rc=0
  shift
  sync  # the run before leaves nothing to write back during this one
  start=${EPOCHREALTIME/[.,]/}
  /usr/bin/time -f %M -o "$bench/rss" "$@" >"$bench/out" 2>"$bench/err" </dev/null || rc=$?
  end=${EPOCHREALTIME/[.,]/}
  printf '%s\t%s\t%s\t%s\n' "$name" "$rep" "$((end - start))" "$(tail -n 1 "$bench/rss")" >>"$samples"
  if [ "$rc" -ne 0 ]; then
    cat "$bench/err" >&2
    fail "$name: $* ended with status $rc"
  fi
}

install_dir() { echo "$bench/install/$1"; }

# out_of_date SET [UPDATER]: an installation with the updater (by default the benchmark's
# Merovast.exe) and an older target (one byte longer) only.
out_of_date() {
  local install
  install=$(install_dir "$1")
  rm -rf "$install"
  mkdir -p "$install"
  cp "${2:-$updater}" "$install/Merovast.exe"
  cp "$(release_dir "$1")/Ostravine.exe" "$install/"
  printf '\0' >>"$install/Ostravine.exe"
}

# matches SET FOLDER: FOLDER holds every file of SET's release, byte for byte.
matches() {
  local address path _
  while IFS=$'\t' read -r address path _; do
    cmp -s "$(release_dir "$1")/$path" "$2/$path" || return 1
  done <"$(plan "$1")"
}

# target_done INSTALL: the target the updater started has run and ended.
target_done() {
  local marker=$1/Ostravine.exe.ran i
  wait_for_file "${target_wait:-20}" "$marker" || fail "the updater in $1 did not start the target"
  # Its process carries its Windows path; it is gone once no command line names it.
  windows_path "$1/Ostravine.exe" >"$bench/target-path"
  for i in $(seq 200); do
    grep -qsFf "$bench/target-path" /proc/[0-9]*/cmdline || break
    sleep 0.01
  done
  rm -f "$marker"
}

updater_run() {  # updater_run NAME SET VARIANT: one timed run of the updater of SET's installation
  local install
  install=$(install_dir "$2")
  measure "$1" "${wine_line[@]}" "$install/Merovast.exe"
  target_done "$install"
  matches "$2" "$install" || fail "$1: $install does not hold release set $2"
}

run_full_update() {  # run_full_update SET VARIANT
  local before expected count
  out_of_date "$1"
  before=$(logged)
  expected=$(($(planned_count "$1") + 1))
  updater_run "full.$1.$2" "$1" "$2"
  count=$(requests_after "$before" "$expected" | wc -l)
  [ "$count" -eq "$expected" ] || fail "full.$1.$2: nginx saw $count requests, not $expected"
}

run_up_to_date() {  # run_up_to_date SET VARIANT: the installation is current (a full update ran)
  local before
  before=$(logged)
  updater_run "current.$1.$2" "$1" "$2"
  [ "$(requests_after "$before" 1 | wc -l)" -eq 1 ] || fail "current.$1.$2: more than the manifest was asked for"
}

fetch_dir=$bench/fetch

run_curl() {  # run_curl SET: the manifest and every planned file, into a folder laid out as the server's
  local args=(-o "$fetch_dir/update_go/update.htm" "$manifest_url") address path _
  while IFS=$'\t' read -r address path _; do args+=(-o "$fetch_dir/release/$path" "$address"); done <"$(plan "$1")"
  rm -rf "$fetch_dir"
  mkdir -p "$fetch_dir"
  measure "curl.$1" curl -sS --fail --create-dirs "${args[@]}"
  matches "$1" "$fetch_dir/release" || fail "curl.$1: the fetched files differ from the release"
  rm -rf "$fetch_dir"
}

run_wget() {  # run_wget SET: the same URLs; wget lays out the folders itself
  rm -rf "$fetch_dir"
  mkdir -p "$fetch_dir"
  { echo "$manifest_url"; cut -f1 "$(plan "$1")"; } >"$bench/urls"
  measure "wget.$1" wget -q -nH -x -P "$fetch_dir" -i "$bench/urls"
  matches "$1" "$fetch_dir/$(version_path "$1")" || fail "wget.$1: the fetched files differ from the release"
  rm -rf "$fetch_dir"
}

# run_ceiling SET plain|sha256: the ceiling program over the same URLs; checks that it read
# every byte (and hashed it right).
run_ceiling() {
  local name=ceiling.$1 option=() manifest expected
  manifest=$(web_root "$1" nohash)/update_go/update.htm
  if [ "$2" = sha256 ]; then
    name=ceiling-sha256.$1 option=(--sha256)
    expected=$(printf '%s %s %s\n' "$(stat -c %s "$manifest")" "$(sha256sum <"$manifest" | cut -d' ' -f1)" "$manifest_url"
      awk -F'\t' '{ print $3, $4, $1 }' "$(plan "$1")")
  else
    expected=$(printf '%s - %s\n' "$(stat -c %s "$manifest")" "$manifest_url"; awk -F'\t' '{ print $3, "-", $1 }' "$(plan "$1")")
  fi
  measure "$name" "${wine_line[@]}" "$programs/bench-ceiling.exe" "${option[@]}" "$manifest_url" $(cut -f1 "$(plan "$1")")
  [ "$(tr -d '\r' <"$bench/out")" = "$expected" ] || fail "$name: the ceiling program did not read the release as served"
}

run_bare() { measure "bare.$1" "${wine_line[@]}" "$programs/bench-window.exe"; }  # run_bare SET

# out_of_date_but_target SET [UPDATER]: as out_of_date, with every other file of the release in place.
out_of_date_but_target() {
  out_of_date "$@"
  (cd "$(release_dir "$1")" && cp --parents $(cut -f2 "$(plan "$1")" | grep -vx Ostravine.exe) "$(install_dir "$1")/")
}

# run_changed_update SET VARIANT: a current installation in which the target and one other file
# differ from the release; adds "VARIANT BODY-BYTES REQUESTS CHANGED-FILE" (what nginx sent for
# the update) to $bench/changed.txt.
run_changed_update() {
  local install before changed
  install=$(install_dir "$1")
  out_of_date_but_target "$1"
  changed=$(awk -F'\t' '$2 != "Ostravine.exe" { print $2; exit }' "$(plan "$1")")
  head -c "$(stat -c %s "$install/$changed")" /dev/urandom >"$install/$changed"
  before=$(logged)
  wine_run 120 "$install/Merovast.exe" >/dev/null 2>&1 || fail "changed.$1.$2: the updater ended with status $?"
  target_done "$install"
  matches "$1" "$install" || fail "changed.$1.$2: $install does not hold release set $1"
  sleep 0.1  # the last answer is logged just after its last byte
  echo "$2 $(requests_after "$before" 1 | awk -F'\t' '{ bytes += $4 } END { print bytes + 0, NR }') $changed" \
    >>"$bench/changed.txt"
}

# run_phases SET VARIANT full|current: one update of SET by the updater built with the phase
# log: a full update, or (current) one in which every file but the target is already in place.
# Appends "VARIANT.KIND REPETITION PHASE MICROSECONDS" to $bench/phases.txt for every step of
# every file's transfer (session, request, open, body, flush, replace: each from the step before)
# and every check of a file in place that read it whole (check: from check-start).
run_phases() {
  local install log=
  install=$(install_dir "$1")
  if [ "$3" = current ]; then out_of_date_but_target "$1" "$phase_updater"; else out_of_date "$1" "$phase_updater"; fi
  wine_run 120 "$install/Merovast.exe" >/dev/null 2>&1 || fail "phases.$1.$2.$3: the updater ended with status $?"
  target_done "$install"
  matches "$1" "$install" || fail "phases.$1.$2.$3: $install does not hold release set $1"
  log=$install/merovast-phases.log
  [ -s "$log" ] || fail "phases.$1.$2.$3: the updater wrote no $log (is it built with UPDATER_PHASE_LOG?)"
  tr -d '\r' <"$log" | awk -v run="$2.$3" -v rep="$rep" '
    function emit(phase, us) { print run, rep, phase, us }
    $1 == "start" { n = 0 }
    { at[$1] = $2; order[++n] = $1 }
    $1 == "check" && ("check-start" in at) { emit("check", $2 - at["check-start"]) }
    $1 == "replace" {
      # A file transfer: start session request open body flush replace.
      if (n == 7) for (i = 2; i <= 7; i++) emit(order[i], at[order[i]] - at[order[i - 1]])
      emit("transfer", $2 - at["start"])
    }' >>"$bench/phases.txt"
}
