#!/usr/bin/env bash
# Puts the store of a web root on any rclone remote (S3, Alibaba OSS, Tencent COS, Swift, Azure
# Blob, ...), after `merovast-publish stage --store` or `prune`:
#   push.sh WEB_ROOT REMOTE:BUCKET[/PATH] [RCLONE_OPTION...]
# in three steps, each finished before the next starts:
#   1. the objects, WEB_ROOT/o/, that the remote lacks, cached for good (their names are their
#      hashes: an object never changes);
#   2. the manifest, update_go/update.htm, not to be cached: updaters then find every object it
#      names already there;
#   3. the objects that prune removed from WEB_ROOT/o/: the new manifest no longer names them.
# Release folders (v/) are never pushed: their GBK names cannot be object names. Neither are
# dot-files (a stage in progress writes its objects under temporary dot-names first). Options
# after the remote go to every rclone call (--dry-run, -v, --config FILE, ...). Run it after
# stage or prune has finished, not during one.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 WEB_ROOT REMOTE:BUCKET[/PATH] [RCLONE_OPTION...]" >&2; exit 2; }
root=$1 remote=${2%/}
shift 2
[ -f "$root/update_go/update.htm" ] || { echo "push: no manifest $root/update_go/update.htm" >&2; exit 1; }
[ -d "$root/o" ] || { echo "push: no store $root/o (staged without --store?)" >&2; exit 1; }

objects=(--exclude '.*' --exclude '.*/**' --header-upload 'Cache-Control: public, max-age=31536000, immutable')
# An object already on the remote is the same bytes: only its presence is checked.
rclone copy "$root/o" "$remote/o" --ignore-existing "${objects[@]}" "$@"
# Uploaded whatever the remote holds: the same size and an older time would be skipped otherwise.
rclone copyto "$root/update_go/update.htm" "$remote/update_go/update.htm" --ignore-times \
  --header-upload 'Cache-Control: no-cache' "$@"
# Nothing is left to copy now, so sync only deletes.
rclone sync "$root/o" "$remote/o" --ignore-existing "${objects[@]}" "$@"
