#!/bin/sh
# The JACK peer comparison: the same paced flood of short messages, from
# jack-flood's 16 ports, logged once by portprobe (its five-second run over
# its JACK port layer) and once by jack_midi_dump (JACK's own MIDI monitor, all
# 16 ports connected to its one input), both writing to a file.
#
# First portprobe alone, with no MIDI port on the server. Then three loads,
# each RUNS times (default 3) for each program:
#   idle  16 ports, one message each: what the ports cost without traffic;
#   light 16 ports x 1,000 messages a second for 4 s (64,000);
#   full  16 ports x 16,000 a second for 4 s (1,024,000: USB-MIDI full speed).
# jack_midi_dump runs about as long as portprobe does, 5.3 s, and at least
# until the flood is out (its port must be there before the flood can be
# connected to it), then it is stopped with SIGINT as a user stops it.
#
# Each run prints one RESULT line; the summary gives per program and load the
# medians of CPU time, messages logged and lost, and the CPU per message
# logged beyond the idle run's.
#
# It starts a JACK server of its own (dummy backend, 48 kHz, 256 frames) on a
# private name and stops it, by its process id, at the end.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/default
RUNS=${RUNS:-3}
FLOOD_SECONDS=4
for program in "$build/portprobe" "$build/bench/jack-flood" "$build/testkit/flood-check" "$build/bench/measure-run"; do
  [ -x "$program" ] || { echo "jack-peer: missing $program (build the default preset first)"; exit 1; }
done
command -v jack_midi_dump >/dev/null || { echo "jack-peer: jack_midi_dump missing (package jackd2)"; exit 1; }
with_portprobe=1
if ! ldd "$build/portprobe" | grep -q libjack; then
  echo "jack-peer: this portprobe is built without a JACK port layer; only jack_midi_dump is measured"
  with_portprobe=0
fi

work=$(mktemp -d)
jack_pid=""
flood_pid=""
dump_pid=""
stop() { # stops one process by its id and waits for it
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$flood_pid"
  stop "$dump_pid"
  stop "$jack_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

JACK_DEFAULT_SERVER="portprobe-perf-peer"
JACK_NO_START_SERVER=1
export JACK_DEFAULT_SERVER JACK_NO_START_SERVER
unset DISPLAY WAYLAND_DISPLAY
cd "$work"

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

wait_until() { # wait_until COMMAND TENTHS
  tries=0
  while ! eval "$1"; do
    tries=$((tries + 1))
    [ "$tries" -lt "$2" ] || return 1
    sleep 0.1
  done
}

if [ "$(jack_wait -c 2>/dev/null)" = running ]; then
  echo "jack-peer: a JACK server named $JACK_DEFAULT_SERVER is already running"
  exit 1
fi
jackd --no-realtime -d dummy -r 48000 -p 256 >jackd.log 2>&1 &
jack_pid=$!
wait_until '[ "$(jack_wait -c 2>/dev/null)" = running ]' 200 || { cat jackd.log; exit 1; }

# start_flood LOAD [CONNECT_TO]: jack-flood in the background, its ports there.
start_flood() {
  case $1 in
    idle) rate=0.25 ;; # one message per port in the four seconds
    light) rate=1000 ;;
    full) rate=16000 ;;
  esac
  "$build/bench/jack-flood" 16 "$rate" "$FLOOD_SECONDS" ${2:+"$2"} >flood.out 2>flood.err &
  flood_pid=$!
  wait_until "grep -q ready flood.out" 100 || { cat flood.err; exit 1; }
}
# end_flood: stops jack-flood; sets sent, missed and finished from its report.
end_flood() {
  stop "$flood_pid"
  flood_pid=""
  sent=$(sed -n 's/.*: sent \([0-9]*\),.*/\1/p' flood.err)
  missed=$(sed -n 's/.*, \([0-9]*\) missed cycles.*/\1/p' flood.err)
  finished=$(grep -q "NOT finished" flood.err && echo no || echo yes)
}
per_device() {
  case $1 in idle) echo 1 ;; light) echo $((1000 * FLOOD_SECONDS)) ;; full) echo $((16000 * FLOOD_SECONDS)) ;; esac
}
say() { # prints a line and keeps it for the summary
  echo "$*"
  echo "$*" >>results.txt
}
# A client that ended without closing is taken down by the server only as
# the next client comes, which then waits for it: one look at the server
# between runs, so that no run pays for the one before.
settle() {
  jack_lsp >/dev/null 2>&1 || true
}
# result PROGRAM LOAD RUN LOG: one RESULT line from measure.txt, the log and the flood.
result() {
  cpu=$(sed -n 's/.*CPU \([0-9.]*\) ms.*/\1/p' measure.txt | head -1)
  "$build/testkit/flood-check" "$4" 16 "$(per_device "$2")" >check.txt || true
  logged=$(sed -n 's/.*, logged \([0-9]*\),.*/\1/p' check.txt | head -1)
  lost=$(sed -n 's/.*, lost \([0-9]*\),.*/\1/p' check.txt | head -1)
  repeated=$(sed -n 's/.*, repeated \([0-9]*\),.*/\1/p' check.txt | head -1)
  late=$(sed -n 's/.*, late \([0-9]*\),.*/\1/p' check.txt | head -1)
  say "RESULT $1 $2 run $3: cpu_ms $cpu logged $logged lost $lost repeated $repeated late $late" \
    "sent $sent finished $finished missed_cycles $missed | $(head -1 measure.txt)"
}

: >results.txt
if [ "$with_portprobe" -eq 1 ]; then
  echo "portprobe with the JACK server running and no MIDI port on it ($RUNS runs):"
  "$build/bench/measure-run" --runs "$RUNS" --stdout console.txt --report portprobe-report.txt \
    --after 'jack_lsp >/dev/null 2>&1' -- "$build/portprobe"
fi
for load in idle light full; do
  run=1
  while [ "$run" -le "$RUNS" ]; do
    if [ "$with_portprobe" -eq 1 ]; then
      # portprobe opens every port; the flood starts once all 16 are open.
      start_flood "$load"
      "$build/bench/measure-run" --runs 1 --stdout console.txt --report portprobe-report.txt -- "$build/portprobe" \
        >measure.txt
      end_flood
      settle
      result portprobe "$load" "$run" portprobe-report.txt
    fi

    started=$(now_ms)
    "$build/bench/measure-run" --runs 1 --nominal 0 --stdout dump.txt -- sh -c 'exec jack_midi_dump 2>dump.err' \
      >measure.txt &
    measure_pid=$!
    wait_until 'jack_lsp 2>/dev/null | grep -q "^midi-monitor:input$"' 100 || { echo "jack_midi_dump did not start"; exit 1; }
    dump_pid=$(pgrep -P "$measure_pid")
    start_flood "$load" midi-monitor:input
    # As long as a portprobe run, and never before the flood is out.
    wait_until '[ $(( $(now_ms) - started )) -ge 5300 ] && grep -q finished flood.out' 200 ||
      say "  (the flood did not finish in time)"
    kill -INT "$dump_pid"
    wait "$measure_pid"
    dump_pid=""
    end_flood
    settle
    result jack_midi_dump "$load" "$run" dump.txt
    say "  jack_midi_dump reported $(grep -c 'ringbuffer was full' dump.err || true) messages skipped (its ring buffer full)"
    run=$((run + 1))
  done
done

echo "summary (medians over $RUNS runs; CPU per message is beyond the idle run's, per message logged):"
awk -v seconds="$FLOOD_SECONDS" '
  $1 == "RESULT" {
    key = $2 " " $3
    n[key]++
    cpu[key, n[key]] = $7; logged[key, n[key]] = $9; lost[key, n[key]] = $11; repeated[key, n[key]] = $13
  }
  function median(array, key, count,    i, j, t, v) {
    for (i = 1; i <= count; i++) v[i] = array[key, i]
    for (i = 1; i <= count; i++) for (j = i + 1; j <= count; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return count % 2 ? v[(count + 1) / 2] : (v[count / 2] + v[count / 2 + 1]) / 2
  }
  END {
    printf "%-15s %-6s %10s %10s %9s %9s %13s %15s\n", "program", "load", "CPU ms", "logged", "lost", "repeated", "logged per s", "CPU us per msg"
    split("portprobe jack_midi_dump", programs, " ")
    split("idle light full", loads, " ")
    for (p = 1; p <= 2; p++) for (l = 1; l <= 3; l++) {
      key = programs[p] " " loads[l]
      if (!(key in n)) continue
      c = median(cpu, key, n[key]); g = median(logged, key, n[key]); x = median(lost, key, n[key]); r = median(repeated, key, n[key])
      idle = programs[p] " idle"
      extra = (loads[l] != "idle" && (idle in n) && g > 0) ? sprintf("%.2f", (c - median(cpu, idle, n[idle])) * 1000 / g) : "-"
      printf "%-15s %-6s %10.1f %10d %9d %9d %13.0f %15s\n", programs[p], loads[l], c, g, x, r, g / seconds, extra
    }
  }' results.txt
