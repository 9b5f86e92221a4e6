#!/bin/sh
# Installs what is needed, then builds and runs every test of every preset.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in default asan tsan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "=== fuzzing ==="
tests/fuzz/run-fuzzers.sh 60
echo "=== all tests passed ==="
