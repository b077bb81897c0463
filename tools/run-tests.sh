#!/bin/bash
# The test command: installs what is missing, builds the host and the Windows
# configurations and runs every test of both (the Windows ones under Wine),
# then the fuzzers' regression runs. Fails when any test fails or did not run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

bash tools/install-deps.sh

stop_wine() { bash cmake/wine-run.sh --root build/windows/wine --stop || true; }
trap stop_wine EXIT

for preset in host windows; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  ctest --preset "$preset"
done

if [ -f tests/fuzz/CMakeLists.txt ]; then
  echo "=== fuzz: regression runs"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  ctest --preset fuzz
fi
echo "=== all tests passed"
