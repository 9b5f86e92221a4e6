#!/bin/sh
# End-to-end tests of the real portprobe on a real MIDI server: a JACK server
# with its dummy backend on a private name, the virtual controllers published
# by jack-controllers with a2jmidid's port names, and portprobe run as a
# user runs it, its report read from portprobe-report.txt (no display) and
# from the clipboard (Xvfb and xclip).
#
# usage: tests/jack/run-jack-tests.sh [BUILD_DIR]    (default: build/default)
# A sanitizer build (build/asan, build/tsan) runs the same checks; anything a
# sanitizer reports lands on stderr, which every check wants empty.
#
# Checks, each byte for byte (the stopwatch's numbers aside, which differ
# from run to run):
#  - no MIDI service at all: five seconds, "No midi devices found.", no error;
#  - the controllers scene (a BCF2000, a nanoKONTROL2 whose scene differs, an
#    X-TOUCH MINI, a keyboard nobody has a dialogue with that sends notes and
#    a SysEx, a capture-only foot controller): the report, the console, and
#    what each virtual controller received and sent (tests/jack/expected/),
#    every JACK event one message;
#  - the same with the report on the clipboard;
#  - a BCF2000, and then a nanoKONTROL2, alone, each answering in the very
#    next process cycle: the exact report and what the controller got;
#  - the nanoKONTROL2 again with its scene dump in the bridge's pieces: the
#    same report, console and wire as in one piece;
#  - a flood of short messages from four devices: every one in the report,
#    in each device's order;
#  - the same flood with standard output a pipe nobody reads: the report is
#    still saved on time and whole.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
expected="$root/tests/jack/expected"
portprobe="$build/portprobe"
flood_check="$build/testkit/flood-check"
reader="$build/tools/report_reader/portprobe-read"
controllers="$build/testkit/jack_controllers/jack-controllers"
for program in "$portprobe" "$controllers" "$flood_check" "$reader"; do
  [ -x "$program" ] || { echo "missing $program (build first)"; exit 1; }
done

work=$(mktemp -d)
jack_pid=""
tool_pid=""
xvfb_pid=""
failures=0

stop() { # stops one process by its id and waits for it
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$tool_pid"
  stop "$xvfb_pid"
  stop "$jack_pid"
  if [ "$failures" -eq 0 ]; then rm -rf "$work"; else echo "the runs are kept in $work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

# portprobe takes the ALSA sequencer before JACK; where there is one (a
# desktop), these runs would meet its ports instead of ours.
if [ -e /dev/snd/seq ]; then
  echo "SKIP: this machine has an ALSA sequencer, which portprobe would use instead of the test's JACK server"
  exit 0
fi

# A server of our own, never a desktop's, and never one started behind our
# back. Its name is one of a few, each held under a lock file while a run
# uses it: JACK keeps a registry slot per server name (eight in all) and
# frees one that a killed server left behind only when the same name comes
# again, so a new name per run would use them up.
JACK_NO_START_SERVER=1
export JACK_NO_START_SERVER
unset JACK_DEFAULT_SERVER
for slot in 0 1 2 3; do
  lock="/tmp/portprobe-e2e-$slot.lock"
  exec 9>>"$lock"
  if flock -n 9; then
    JACK_DEFAULT_SERVER="portprobe-e2e-$slot"
    break
  fi
  exec 9>&-
done
if [ -z "${JACK_DEFAULT_SERVER:-}" ]; then
  echo "FAIL: four runs of these tests are going on already"
  exit 1
fi
export JACK_DEFAULT_SERVER

# Sanitizer builds: reports go to stderr and end the program at once.
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan-suppressions.txt}"
export ASAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# Waits (up to $2 tenths of a second) until the command in $1 succeeds.
wait_until() {
  tries=0
  while ! eval "$1"; do
    tries=$((tries + 1))
    [ "$tries" -lt "$2" ] || return 1
    sleep 0.1
  done
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# The stopwatch's numbers are the one thing that differs between runs.
mask_stopwatch() {
  sed -E 's/Run Time: [0-9]+\.[0-9]{6}  Interval Time: [0-9]+\.[0-9]{6}/Run Time: #  Interval Time: #/g'
}

. "$root/tests/support/controllers_capture.sh"


start_jack() {
  if [ "$(jack_wait -c 2>/dev/null)" = running ]; then
    fail "a JACK server named $JACK_DEFAULT_SERVER is running without holding its lock file"
    exit 1
  fi
  # Synchronous (-S): each cycle waits for every client to finish the one
  # before, so a client that a busy machine (or a sanitizer) makes late
  # delays its events instead of losing them. What is checked is what the
  # programs lose, not what the machine does. The server ends with this
  # script, even when the script is killed, and gets none of its files.
  setpriv --pdeathsig TERM jackd --no-realtime -S -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 9>&- &
  jack_pid=$!
  if ! wait_until '[ "$(jack_wait -c 2>/dev/null)" = running ]' 200; then
    cat "$work/jackd.log"
    fail "the JACK server did not start"
    exit 1
  fi
}

# start_controllers SCENE DIR
start_controllers() {
  mkdir -p "$2"
  setpriv --pdeathsig TERM "$controllers" "$1" "$2" 2>"$2/stderr" 9>&- &
  tool_pid=$!
  if ! wait_until "[ -f '$2/ready' ]" 100; then
    cat "$2/stderr"
    fail "jack-controllers did not start"
    exit 1
  fi
}

stop_controllers() { # stops the tool; fails when it lost events or complained
  kill "$tool_pid"
  if ! wait "$tool_pid"; then
    fail "jack-controllers ended badly: $(cat "$1/stderr")"
  elif [ -s "$1/stderr" ]; then
    fail "jack-controllers: something on stderr: $(cat "$1/stderr")"
  fi
  tool_pid=""
}

# run_portprobe DIR [VAR=VALUE...]: runs portprobe in DIR with only the given
# display variables; its console, stderr and run time are kept there.
run_portprobe() {
  dir=$1
  shift
  started=$(now_ms)
  (cd "$dir" && env -u DISPLAY -u WAYLAND_DISPLAY "$@" "$portprobe" >console.txt 2>stderr.txt) || fail "portprobe exited with $?"
  echo $(( $(now_ms) - started )) >"$dir/elapsed"
}

# --- no MIDI service at all --------------------------------------------------
case_no_service() {
  dir="$work/none"
  mkdir -p "$dir"
  run_portprobe "$dir"
  printf '\r\n\r\nNo midi devices found.\r\n' >"$dir/expected-report"
  same "$dir/expected-report" "$dir/portprobe-report.txt" "no service: the report"
  printf 'Portprobe finished, report saved to portprobe-report.txt; attach it to an email.' >"$dir/expected-console"
  same "$dir/expected-console" "$dir/console.txt" "no service: the console"
  [ -s "$dir/stderr.txt" ] && fail "no service: something on stderr: $(cat "$dir/stderr.txt")"
  elapsed=$(cat "$dir/elapsed")
  if [ "$elapsed" -ge 5000 ] && [ "$elapsed" -lt 6500 ]; then
    pass "no service: ran ${elapsed} ms"
  else
    fail "no service: ran ${elapsed} ms instead of five seconds"
  fi
}

# --- the controllers scene ------------------------------------------------------
# The hex dump the input callback logs for the message on line $2 of the
# expected wire file $1: "{ 0xF0, 0x42, ..., 0xF7,};".

# In the order the scene's time slots give (jack_scenes.cpp): the ports as
# they are found, the nanoKONTROL2's dialogue, the BCF2000's answer, the
# keyboard, the foot controller, the X-TOUCH MINI.
expected_capture() {
  nano="$expected/controllers/nanokontrol2.sent"
  lf "MIM_OPEN" "MIDI device found: a2j:BCF2000 [20]: BCF2000 MIDI 1"
  crlf "Send identiy request"
  lf "MIM_OPEN" "MIDI device found: a2j:nanoKONTROL2 [22]: nanoKONTROL2 MIDI 1"
  lf "MIM_OPEN" "MIDI device found: a2j:X-TOUCH MINI [23]: X-TOUCH MINI MIDI 1"
  lf "MIM_OPEN" "MIDI device found: a2j:USB Keyboard [24]: USB Keyboard MIDI 1"
  lf "MIM_OPEN" "MIDI device found: a2j:Foot Controller [28]: Foot Controller MIDI 1"
  controllers_dialogues "$nano" ""
}

expected_summary() {
  crlf "" ""
  crlf '"BCF2000 Stage" Supported by Veltrakon.'
  crlf '"a2j:nanoKONTROL2 [22]: nanoKONTROL2 MIDI 1" Supported by Veltrakon.'
  crlf '"a2j:X-TOUCH MINI [23]: X-TOUCH MINI MIDI 1" Supported by Veltrakon.'
  crlf '"a2j:USB Keyboard [24]: USB Keyboard MIDI 1"'
  crlf '"a2j:Foot Controller [28]: Foot Controller MIDI 1"'
  crlf ""
}

# Every event each virtual controller received and sent, one line per JACK
# event, against tests/jack/expected/controllers/: the BCF2000 got one
# identity request and answered once; the nanoKONTROL2 got the dump request,
# the stored scene and the write request; the X-TOUCH MINI its reset stream
# as 51 events; nothing was sent to the keyboard or the capture-only port;
# and no event, either way, held anything but one message.
check_wire() { # check_wire DIR WHAT
  for file in "$expected/controllers/"*; do
    name=$(basename "$file")
    same "$file" "$1/$name" "$2: $name"
  done
}

# The report reader's findings in a report, against
# tests/jack/expected/NAME.findings.
check_findings() { # REPORT NAME WHAT
  "$reader" "$1" --findings >"$1.findings" || true
  same "$expected/$2.findings" "$1.findings" "$3: the report reader's findings"
}

case_controllers_to_file() {
  dir="$work/controllers-file-$attempt"
  start_controllers controllers "$dir"
  run_portprobe "$dir"
  # Closed, not left for the server to find dead: a dead client holds up
  # the clients after it, cycle after cycle, until the server's timeout.
  jack_lsp >"$dir/ports-after" 2>&1 || true
  if grep -q '^portprobe' "$dir/ports-after"; then
    fail "controllers: portprobe's ports outlived it: $(grep '^portprobe' "$dir/ports-after" | tr '\n' ' ')"
  else
    pass "controllers: portprobe closed its JACK clients as it ended"
  fi
  stop_controllers "$dir"
  { expected_capture; expected_summary; } >"$dir/expected-report"
  mask_stopwatch <"$dir/portprobe-report.txt" >"$dir/report-masked"
  same "$dir/expected-report" "$dir/report-masked" "controllers: the report"
  check_findings "$dir/portprobe-report.txt" controllers controllers
  { expected_capture | tr -d '\r'
    printf 'Portprobe finished, report saved to portprobe-report.txt; attach it to an email.'; } >"$dir/expected-console"
  mask_stopwatch <"$dir/console.txt" >"$dir/console-masked"
  same "$dir/expected-console" "$dir/console-masked" "controllers: the console"
  [ -s "$dir/stderr.txt" ] && fail "controllers: something on stderr: $(cat "$dir/stderr.txt")"
  check_wire "$dir" "controllers"
}

case_controllers_to_clipboard() {
  dir="$work/controllers-clipboard-$attempt"
  mkdir -p "$dir"
  # Xvfb picks a free display and writes its number to fd 3.
  setpriv --pdeathsig TERM Xvfb -displayfd 3 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" 9>&- &
  xvfb_pid=$!
  if ! wait_until "[ -s '$dir/display' ]" 100; then
    fail "Xvfb did not start: $(cat "$dir/xvfb.log")"
    return
  fi
  display=":$(cat "$dir/display")"
  start_controllers controllers "$dir"
  run_portprobe "$dir" DISPLAY="$display"
  stop_controllers "$dir"
  DISPLAY="$display" xclip -o -selection clipboard >"$dir/clipboard.txt" || fail "clipboard: nothing to read"
  stop "$xvfb_pid" # the xclip that served the selection ends with it
  xvfb_pid=""
  [ -e "$dir/portprobe-report.txt" ] && fail "clipboard: a report file was written too"
  { expected_capture; expected_summary; } >"$dir/expected-report"
  mask_stopwatch <"$dir/clipboard.txt" >"$dir/report-masked"
  same "$dir/expected-report" "$dir/report-masked" "clipboard: the report"
  printf 'Portprobe finished, paste clipboard into an email.' >"$dir/expected-end"
  tail -c 50 "$dir/console.txt" >"$dir/console-end"
  same "$dir/expected-end" "$dir/console-end" "clipboard: the closing message"
  [ -s "$dir/stderr.txt" ] && fail "clipboard: something on stderr: $(cat "$dir/stderr.txt")"
  check_wire "$dir" "clipboard"
}

# --- controllers that answer in the very next cycle -----------------------------
# One device a run (jack_scenes.cpp), so that the report's order is fixed
# however fast the answers come: each request must find its device's input
# started with its buffer queued, or the answer is lost and the report
# shows it. The wire files are the controllers scene's for that device.
expected_next_cycle() { # SCENE
  if [ "$1" = bcf2000-next-cycle ]; then
    lf "MIM_OPEN" "MIDI device found: a2j:BCF2000 [20]: BCF2000 MIDI 1"
    crlf "Send identiy request" "SysEx message received:"
    crlf "{ 0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02, 0x42, 0x43, 0x46, 0x32, 0x30, 0x30, 0x30, 0x20, 0x53, 0x74, 0x61, 0x67, 0x65, 0xF7,};"
    crlf "Got identity response" "$stopwatch"
    printf '%s' "Updated device name: BCF2000 Stage"
  else
    nano="$expected/controllers/nanokontrol2.sent"
    lf "MIM_OPEN" "MIDI device found: a2j:nanoKONTROL2 [22]: nanoKONTROL2 MIDI 1"
    crlf "SysEx message received:" "$(dump_of "$nano" 1)"
    lf "current settings are bad!"
    crlf "SysEx message received:" "$(dump_of "$nano" 2)"
    crlf "SysEx message received:" "$(dump_of "$nano" 3)"
    lf "data upload success!"
  fi
}

case_next_cycle() { # SCENE DEVICE-FILE SUMMARY-LINE [FINDINGS-OF-SCENE]
  dir="$work/$1-$attempt"
  start_controllers "$1" "$dir"
  run_portprobe "$dir"
  stop_controllers "$dir"
  { expected_next_cycle "$1"; crlf "" "" "$3" ""; } >"$dir/expected-report"
  mask_stopwatch <"$dir/portprobe-report.txt" >"$dir/report-masked"
  same "$dir/expected-report" "$dir/report-masked" "$1: the report"
  check_findings "$dir/portprobe-report.txt" "${4:-$1}" "$1"
  { expected_next_cycle "$1" | tr -d '\r'
    printf 'Portprobe finished, report saved to portprobe-report.txt; attach it to an email.'; } >"$dir/expected-console"
  mask_stopwatch <"$dir/console.txt" >"$dir/console-masked"
  same "$dir/expected-console" "$dir/console-masked" "$1: the console"
  [ -s "$dir/stderr.txt" ] && fail "$1: something on stderr: $(cat "$dir/stderr.txt")"
  for side in received sent; do
    same "$expected/controllers/$2.$side" "$dir/$2.$side" "$1: $2.$side"
  done
}

case_bcf2000_next_cycle() {
  case_next_cycle bcf2000-next-cycle bcf2000 '"BCF2000 Stage" Supported by Veltrakon.'
}

case_nanokontrol2_next_cycle() {
  case_next_cycle nanokontrol2-next-cycle nanokontrol2 '"a2j:nanoKONTROL2 [22]: nanoKONTROL2 MIDI 1" Supported by Veltrakon.'
}

# The same nanoKONTROL2 behind the ALSA sequencer's bridge, its scene dump in
# two JACK events of 256 and 146 bytes: report, console, wire and findings
# the same as in one piece.
case_nanokontrol2_in_pieces() {
  case_next_cycle nanokontrol2-in-pieces nanokontrol2 '"a2j:nanoKONTROL2 [22]: nanoKONTROL2 MIDI 1" Supported by Veltrakon.' nanokontrol2-next-cycle
}

# --- a flood of short messages -------------------------------------------------
# The numbered flood of four devices, each 2000 short messages 1 ms apart on
# its own channel, from 1.5 s after the open (jack_scenes.cpp); flood-check
# counts it in the report: every message once, in its device's order.
case_flood() {
  dir="$work/flood-$attempt"
  start_controllers flood "$dir"
  run_portprobe "$dir"
  stop_controllers "$dir"
  report="$dir/portprobe-report.txt"
  total=$(grep -c '^got MIDI: ' "$report" || true)
  if [ "$total" -eq 8000 ]; then pass "flood: 8000 messages in the report"; else fail "flood: $total messages in the report instead of 8000"; fi
  if "$flood_check" "$report" 4 2000 >"$dir/flood-check.txt"; then
    pass "flood: every device's messages complete and in order"
  else
    fail "flood: $(cat "$dir/flood-check.txt")"
  fi
  check_findings "$report" flood flood
  for pad in 1 2 3 4; do
    grep -qF "\"a2j:Flood 0$pad [4$((pad - 1))]: Flood 0$pad MIDI 1\"" "$report" || fail "flood: device $pad missing from the summary"
  done
  [ -s "$dir/stderr.txt" ] && fail "flood: something on stderr: $(cat "$dir/stderr.txt")"
  : >"$dir/empty"
  same "$dir/empty" "$dir/violations" "flood: every JACK event held exactly one message"
}

# The same flood with portprobe's standard output a pipe that nobody reads:
# the console stalls, the report does not. It is saved on time, whole.
case_flood_stuck_console() {
  dir="$work/flood-stuck-console-$attempt"
  start_controllers flood "$dir"
  mkfifo "$dir/console"
  exec 8<>"$dir/console" # held open for reading, never read
  started=$(now_ms)
  (cd "$dir" && env -u DISPLAY -u WAYLAND_DISPLAY "$portprobe" >console 2>stderr.txt 9>&- 8>&-) || fail "stuck console: portprobe exited with $?"
  elapsed=$(( $(now_ms) - started ))
  exec 8>&-
  stop_controllers "$dir"
  total=$(grep -c '^got MIDI: ' "$dir/portprobe-report.txt" || true)
  if [ "$total" -eq 8000 ]; then pass "stuck console: 8000 messages in the report"; else fail "stuck console: $total messages in the report instead of 8000"; fi
  if [ "$elapsed" -lt 15000 ]; then pass "stuck console: ended after ${elapsed} ms"; else fail "stuck console: ended after ${elapsed} ms"; fi
  if [ -s "$dir/stderr.txt" ]; then fail "stuck console: something on stderr: $(cat "$dir/stderr.txt")"; fi
}

# Missed cycles (xruns) during the traffic of a run, from jack-controllers'
# timing file: a client that misses a cycle loses that cycle's events.
missed_cycles() {
  awk '$1 == "traffic" { first = $2 - 200; last = $3 + 200 }
       $1 == "xrun" && $2 >= first && $2 <= last { n++ }
       END { print n + 0 }' "$1/timing" 2>/dev/null || echo 0
}

# Runs a case up to three times, but again only when a failed run had cycles
# missed by the server while its messages were on the way: on a loaded
# machine the server itself drops them. Any other failure stands.
with_retries() {
  attempt=1
  while :; do
    before=$failures
    "$1"
    [ "$failures" -eq "$before" ] && return 0
    missed=$(missed_cycles "$dir")
    if [ "$missed" -eq 0 ] || [ "$attempt" -ge 3 ]; then return 0; fi
    echo "retrying: the server missed $missed cycle(s) while messages were on the way"
    failures=$before
    attempt=$((attempt + 1))
  done
}

case_no_service
start_jack
with_retries case_controllers_to_file
with_retries case_controllers_to_clipboard
with_retries case_bcf2000_next_cycle
with_retries case_nanokontrol2_next_cycle
with_retries case_nanokontrol2_in_pieces
with_retries case_flood
with_retries case_flood_stuck_console

if [ "$failures" -ne 0 ]; then
  echo "=== $failures JACK end-to-end check(s) failed ==="
  exit 1
fi
echo "=== JACK end-to-end tests passed ==="
