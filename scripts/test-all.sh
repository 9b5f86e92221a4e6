#!/bin/sh
# Installs what is needed, then builds and runs every test of every preset,
# the real Linux programs' on a JACK server, the report reader's page in a
# headless browser and the Windows build's under Wine. Each stage says how
# long it took, and the last line sums them up.
set -eu
cd "$(dirname "$0")/.."
began=$(date +%s)
stage_began=$began
stage_name=""
times=""
stage() { # NAME: ends the stage before, if any, and begins this one
  now=$(date +%s)
  if [ -n "$stage_name" ]; then
    echo "--- $stage_name: $((now - stage_began)) s"
    times="$times$stage_name $((now - stage_began)) s; "
  fi
  stage_name=$1
  stage_began=$now
  [ -n "$1" ] && echo "=== $1 ==="
  return 0
}
stage "installing"
scripts/install-deps.sh
scripts/clear-stale-jack.sh
stage "style: clang-format and clang-tidy"
scripts/check-style.sh
for preset in default asan tsan; do
  stage "$preset: build and ctest"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  # The same end-to-end runs for each build: the sanitizers watch the real
  # program, which no ctest test runs on a JACK server as a user does.
  stage "$preset: portprobe on a JACK server"
  tests/jack/run-jack-tests.sh "build/$preset"
  if [ "$preset" = default ]; then
    # The ALSA path every Linux user runs, on a real kernel run as a process
    # (its build is cached per machine: minutes the first time, none after).
    stage "portprobe on a Linux kernel (user-mode, USB MIDI units)"
    tests/uml/run-uml-tests.sh build/default
    stage "the report reader's page in headless Chromium"
    tests/web/run-web-tests.sh build/default
    # The benchmarks only have to run here (a second or two); the figures
    # come from scripts/run-benchmarks.sh on a quiet machine.
    stage "benchmarks, smoke run"
    build/default/bench/portprobe_bench --benchmark_min_time=0.01 >/dev/null
  fi
done
stage "fuzzing"
tests/fuzz/run-fuzzers.sh 60
stage "mingw (Windows programs under Wine)"
tests/wine/run-wine-tests.sh
stage ""
echo "=== stages: $times"
echo "=== all tests passed in $(($(date +%s) - began)) s ==="
