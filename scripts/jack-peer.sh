#!/bin/sh
# The JACK peer comparison: the same paced flood of short messages, from
# jack-flood's 16 ports, logged once by portprobe (its five-second run over
# the RtMidi layer) and once by jack_midi_dump (JACK's own MIDI monitor, all
# 16 ports connected to its one input), both writing to a file. For each:
# the messages logged and lost (flood-check), and the CPU time
# (measure-run). Two floods: 16 x 16,000 a second (USB-MIDI full speed) and
# 16 x 1,000 a second. Run by scripts/run-benchmarks.sh; RUNS repeats.
#
# It starts a JACK server of its own (dummy backend, 48 kHz, 256 frames) on a
# private name and stops it, by its process id, at the end.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/default
RUNS=${RUNS:-3}
SECONDS_OF_FLOOD=4
for program in "$build/portprobe" "$build/bench/jack-flood" "$build/bench/flood-check" "$build/bench/measure-run"; do
  [ -x "$program" ] || { echo "jack-peer: missing $program (build the default preset first)"; exit 1; }
done
command -v jack_midi_dump >/dev/null || { echo "jack-peer: jack_midi_dump missing (package jackd2)"; exit 1; }
# portprobe reaches JACK only through the RtMidi port layer.
with_portprobe=1
if ! ldd "$build/portprobe" | grep -q librtmidi; then
  echo "jack-peer: this portprobe is built without the RtMidi layer; only jack_midi_dump is measured"
  with_portprobe=0
fi

work=$(mktemp -d)
jack_pid=""
flood_pid=""
stop() { # stops one process by its id and waits for it
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$flood_pid"
  stop "$jack_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

JACK_DEFAULT_SERVER="portprobe-performance"
JACK_NO_START_SERVER=1
export JACK_DEFAULT_SERVER JACK_NO_START_SERVER
unset DISPLAY WAYLAND_DISPLAY

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
jackd --no-realtime -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jack_pid=$!
wait_until '[ "$(jack_wait -c 2>/dev/null)" = running ]' 200 || { cat "$work/jackd.log"; exit 1; }

# start_flood PER_SECOND [CONNECT_TO]: jack-flood in the background, ready.
start_flood() {
  "$build/bench/jack-flood" 16 "$1" "$SECONDS_OF_FLOOD" ${2:+"$2"} >"$work/flood.ready" 2>"$work/flood.err" &
  flood_pid=$!
  wait_until "grep -q ready '$work/flood.ready'" 100 || { cat "$work/flood.err"; exit 1; }
}
end_flood() {
  stop "$flood_pid"
  flood_pid=""
  cat "$work/flood.err"
}

for rate in 16000 1000; do
  per_device=$((rate * SECONDS_OF_FLOOD))
  echo "--- flood: 16 ports x $rate messages a second for $SECONDS_OF_FLOOD s ($((16 * per_device)) messages)"
  run=1
  while [ "$run" -le "$RUNS" ]; do
    cd "$work"
    if [ "$with_portprobe" -eq 1 ]; then
      echo "portprobe, run $run:"
      # portprobe opens every port; the flood starts once all 16 are open.
      start_flood "$rate"
      "$build/bench/measure-run" --runs 1 --stdout console.txt --report portprobe-report.txt -- "$build/portprobe" \
        >measure.txt
      head -1 measure.txt
      end_flood
      "$build/bench/flood-check" portprobe-report.txt 16 "$per_device" || true
    fi

    echo "jack_midi_dump, run $run:"
    # Runs two seconds longer than the flood, then is told to stop, as a
    # user stops it.
    "$build/bench/measure-run" --runs 1 --nominal 0 --stdout dump.txt -- \
      sh -c "timeout -s INT $((SECONDS_OF_FLOOD + 2)) jack_midi_dump 2>dump.err; true" >measure.txt &
    measure_pid=$!
    wait_until 'jack_lsp 2>/dev/null | grep -q "^midi-monitor:input$"' 100 || { echo "jack_midi_dump did not start"; exit 1; }
    start_flood "$rate" midi-monitor:input
    wait "$measure_pid"
    end_flood
    head -1 measure.txt
    echo "  $(grep -c 'ringbuffer was full' dump.err || true) messages jack_midi_dump reported skipping (its ring buffer full)"
    "$build/bench/flood-check" dump.txt 16 "$per_device" || true
    run=$((run + 1))
  done
done
