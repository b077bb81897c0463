#!/bin/bash
# Runs every fuzzer for longer than the regression does:
#   bash tests/fuzz/run-long.sh [seconds per fuzzer, default 300]
# Builds the fuzz configuration first. Each fuzzer starts from its seed corpus
# with a random seed; its work folder under build/fuzz/tests/fuzz/long/ keeps
# the inputs it found and any failing input.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-300}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target package_fuzzer uninstall_list_fuzzer
status=0
for fuzzer in package_fuzzer uninstall_list_fuzzer; do
  echo "=== $fuzzer: $seconds s"
  bash tests/fuzz/run-fuzzer.sh "build/fuzz/tests/fuzz/$fuzzer" "tests/fuzz/corpus/$fuzzer" \
    "build/fuzz/tests/fuzz/long/$fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=30 ||
    status=1
done
exit $status
