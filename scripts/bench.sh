#!/usr/bin/env bash
# The updater's speed against curl, wget and the ceiling of WinINet under Wine (make bench):
# builds what it needs, publishes release sets, serves them with nginx and prints the figures.
#   scripts/bench.sh [--repetitions N]
#   scripts/bench.sh --index-set [--repetitions N]   (the 5,000-file release through its index)
#   scripts/bench.sh --store-set [--repetitions N]   (ten releases of it: folders against the store)
exec "$(dirname "$0")/../bench/run.sh" "$@"
