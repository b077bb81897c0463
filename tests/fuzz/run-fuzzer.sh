#!/bin/bash
# Runs one fuzzer from its seed corpus:
#   run-fuzzer.sh FUZZER SEED_DIR WORK_DIR [libFuzzer options...]
# New inputs go to WORK_DIR, which starts empty, so the committed seeds are
# never changed; a failing input is saved in WORK_DIR as crash-* (or leak-*,
# timeout-*) and named in the output.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3
shift 3
rm -rf "$work"
mkdir -p "$work/corpus"
exec "$fuzzer" -artifact_prefix="$work/" -print_final_stats=1 "$@" "$work/corpus" "$seeds"
