#!/bin/sh
# Builds the libFuzzer targets (preset `fuzz`) and runs each for a bounded
# time, starting from its seed corpus. A crash fails the run; its input is
# left in build/fuzz/artifacts/ to be fixed and kept under regressions/.
# Usage: run-fuzzers.sh [seconds per target, default 60]
set -eu
cd "$(dirname "$0")/../.."
seconds="${1:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
artifacts="$PWD/build/fuzz/artifacts"
mkdir -p "$artifacts"
for fuzzer in build/fuzz/tests/fuzz/*_fuzzer; do
  target=$(basename "$fuzzer" _fuzzer)
  work=$(mktemp -d)
  cp tests/fuzz/corpus/"$target"/* "$work"/
  echo "=== fuzzing $target for ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts/$target-" -print_final_stats=1 "$work" 2>"$work.log"; then
    tail -60 "$work.log"
    echo "fuzz target $target found a failure; input saved under $artifacts"
    rm -rf "$work" "$work.log"
    exit 1
  fi
  grep -E 'stat::number_of_executed_units|Done' "$work.log" || true
  rm -rf "$work" "$work.log"
done
