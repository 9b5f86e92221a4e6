#!/bin/sh
# Installs what is needed, then builds and runs every test of every preset,
# the real Linux programs' on a JACK server, the report reader's page in a
# headless browser and the Windows build's under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/clear-stale-jack.sh
echo "=== style: clang-format and clang-tidy ==="
scripts/check-style.sh
for preset in default asan tsan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  echo "=== $preset: portprobe on a JACK server ==="
  tests/jack/run-jack-tests.sh "build/$preset"
  if [ "$preset" = default ]; then
    echo "=== the report reader's page in headless Chromium ==="
    tests/web/run-web-tests.sh build/default
    # The benchmarks only have to run here (a second or two); the figures
    # come from scripts/run-benchmarks.sh on a quiet machine.
    echo "=== benchmarks, smoke run ==="
    build/default/bench/portprobe_bench --benchmark_min_time=0.01 >/dev/null
  fi
done
echo "=== fuzzing ==="
tests/fuzz/run-fuzzers.sh 60
echo "=== mingw (Windows programs under Wine) ==="
tests/wine/run-wine-tests.sh
echo "=== all tests passed ==="
