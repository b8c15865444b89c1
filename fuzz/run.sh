#!/usr/bin/env bash
# Runs one fuzz target from its seed corpus. New inputs go to WORKDIR and a crashing
# input to WORKDIR-crashes, never into the seeds in the source tree.
#   fuzz/run.sh [--fresh] FUZZER SEEDS WORKDIR [libFuzzer flags...]
# --fresh empties WORKDIR first, so that a run depends on the seeds alone.
set -euo pipefail
fresh=false
if [ "${1:-}" = --fresh ]; then
  fresh=true
  shift
fi
fuzzer=$1 seeds=$2 work=$3
shift 3
work=${work%/}
if $fresh; then rm -rf "$work" "$work-crashes"; fi
mkdir -p "$work" "$work-crashes"
exec "$fuzzer" "$work" "$seeds" -max_len=4096 -artifact_prefix="$work-crashes/" \
  -print_final_stats=1 "$@"
