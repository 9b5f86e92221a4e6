#!/bin/sh
# Builds the benchmarks (default preset) and takes every figure of
# docs/performance.md on this machine:
#   1. the input path per event against its limit, timed (Google Benchmark)
#      and, with valgrind installed, in instructions (callgrind); LogPrintf
#      from 1, 4 and 8 threads; a long send over the simulated service;
#   2. whole runs of portprobe (no devices), portprobe-demo and the flood of
#      16 devices at 16,000 short messages a second each;
#   3. the JACK peer comparison, where the JACK tools are built
#      (scripts/jack-peer.sh);
#   4. the Windows build under Wine: the input path against its limit
#      (input-path-time, beside the Linux build's), and the flood at 1, 4 and
#      16 ports of 16,000 messages a second (scripts/wine-flood.sh);
#   5. the report reader on reports of 10,000 and 118,000 lines and on the
#      largest the tool writes (the flood's, 21.6 MB): portprobe-read's time
#      and peak memory, and its page in headless Chromium, from the paste to
#      the findings shown, with the longest the page was held up meanwhile
#      (the Google Benchmark figures of the reader are part 1's).
# RUNS (default 5) sets the repetitions, PARTS (default "1 2 3 4 5") which
# parts run. Take figures when the machine is quiet: the load is printed first and
# last.
set -eu
cd "$(dirname "$0")/.."
RUNS=${RUNS:-5}
PARTS=${PARTS:-1 2 3 4 5}
part() { case " $PARTS " in *" $1 "*) return 0 ;; *) return 1 ;; esac; }
root=$PWD
build=$root/build/default

cmake --preset default >/dev/null
cmake --build --preset default --target portprobe portprobe-demo portprobe_bench portprobe-flood flood-check \
  measure-run input-path-count portprobe-read

work=$(mktemp -d)
trap 'rm -rf "$work" 2>/dev/null || true' EXIT
cd "$work"
# Reports go to portprobe-report.txt here, never to a desktop clipboard.
unset DISPLAY WAYLAND_DISPLAY


echo "=== load: $(uptime)"
if part 1; then
echo "=== 1. per event, timed ($RUNS repetitions; console to /dev/null by a redirect of standard output)"
"$build/bench/portprobe_bench" --benchmark_repetitions="$RUNS" --benchmark_report_aggregates_only=true

if command -v valgrind >/dev/null 2>&1; then
  echo "=== 1. per event, instructions (callgrind, user space only: the write to /dev/null is the same in both)"
  printf '%-24s %14s %14s %8s\n' case input limit ratio
  for item in note:20000 long-message-402:2000 packets-402:200; do
    name=${item%%:*}
    calls=${item##*:}
    for side in input limit; do
      valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*MeasuredCalls*' \
        --callgrind-out-file="$work/cg.$side" "$build/bench/input-path-count" "$side-$name" "$calls" \
        >/dev/null 2>"$work/cg.$side.err"
      events=$(grep -E '^[0-9]+$' "$work/cg.$side.err")
      total=$(sed -n 's/^totals: //p' "$work/cg.$side")
      eval "$side=\$(( total / events ))"
    done
    printf '%-24s %14s %14s %8s\n' "$name" "$input" "$limit" "$(awk "BEGIN { printf \"%.2f\", $input / $limit }")"
  done
fi

fi

if part 2; then
echo "=== 2. whole runs ($RUNS each; standard output to a file)"
"$build/bench/measure-run" --runs "$RUNS" --stdout console.txt --report portprobe-report.txt -- "$build/portprobe"
"$build/bench/measure-run" --runs "$RUNS" --stdout console.txt --report portprobe-report.txt -- "$build/portprobe-demo"
# 16 devices, 16,000 a second each, for 4.5 s: 72,000 messages per device.
"$build/bench/measure-run" --runs "$RUNS" --stdout console.txt --report portprobe-report.txt \
  --after "'$build/testkit/flood-check' portprobe-report.txt 16 72000 && '$build/testkit/flood-check' console.txt 16 72000" \
  -- "$build/bench/portprobe-flood" 16 16000 4.5

fi

if part 3 && [ -x "$root/scripts/jack-peer.sh" ]; then
  echo "=== 3. JACK peer"
  RUNS=$RUNS "$root/scripts/jack-peer.sh"
fi
if part 4; then
  echo "=== 4. the Windows build under Wine"
  (cd "$root" && cmake --preset mingw >/dev/null && cmake --build --preset mingw &&
    cmake --build --preset default --target input-path-time)
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winealsa.drv="
  timeout 180 wineboot -i >/dev/null 2>&1 || true
  wineserver -p 600 || true
  echo "--- input path, Linux build"
  "$build/bench/input-path-time" "$RUNS" >/dev/null
  echo "--- input path, Windows build under Wine"
  wine "$root/build/mingw/bench/input-path-time.exe" "$RUNS" >/dev/null
  echo "--- flood: 16,000 messages a second a port for 3.5 s ($RUNS runs each)"
  for devices in 1 4 16; do
    for run in $(seq "$RUNS"); do "$root/scripts/wine-flood.sh" "$devices" 16000 3.5 "$work/flood-$devices-$run" || true; done
  done
  wineserver -k || true
fi
if part 5; then
  echo "=== 5. the report reader ($RUNS runs each)"
  page="$build/tools/report_reader/web/portprobe-reader.html"
  for item in 10k:4:556 118k:16:1640 flood:16:16000; do
    name=${item%%:*}
    rest=${item#*:}
    "$build/bench/portprobe-flood" "${rest%%:*}" "${rest#*:}" 4.5 >/dev/null
    mv portprobe-report.txt "report-$name.txt"
    echo "--- $name: $(wc -l <"report-$name.txt") lines, $(wc -c <"report-$name.txt") bytes"
    for run in $(seq "$RUNS"); do
      /usr/bin/time -f "portprobe-read: %e s, peak %M KB" "$build/tools/report_reader/portprobe-read" \
        "report-$name.txt" >/dev/null
    done
    if [ -e "$page" ] && command -v chromium >/dev/null 2>&1; then
      for run in $(seq "$RUNS"); do
        # A browser of its own each time; it may still write to its profile
        # as it closes, so the folder is left to the work folder's removal.
        node "$root/tests/web/paste.js" "$page" "report-$name.txt" "$(mktemp -d -p "$work")" 2>&1 >/dev/null |
          tr '\n' ' '
        echo
      done
    fi
  done
fi

echo "=== load: $(uptime)"
