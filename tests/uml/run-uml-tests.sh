#!/bin/sh
# The real portprobe on a real Linux kernel: the tests' user-mode kernel
# (build-kernel.sh, cached), the scene's controllers plugged in as USB MIDI
# units that the kernel's own snd-usb-audio binds (usb-controllers), and the
# tool over RtMidi and the kernel's ALSA sequencer, as every Linux user runs
# it (run-in-guest.sh, guest-init.sh). Checked against the same expected
# files as the JACK runs where the transport does not show (what crossed
# each unit's cable), and against the kernel's own names where it does (the
# report; tests/uml/README.md says what differs from JACK and why).
# usage: tests/uml/run-uml-tests.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
jack_expected="$root/tests/jack/expected"
for program in "$build/portprobe" "$build/testkit/usb_controllers/usb-controllers"; do
  [ -x "$program" ] || { echo "missing $program (build first)"; exit 1; }
done
# Built once per machine, or failing loudly: never skipped.
"$root/tests/uml/build-kernel.sh" >/dev/null
work=$(mktemp -d)
failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
. "$root/tests/support/controllers_capture.sh"

# The kernel names a USB unit's card and sequencer client after its product
# string and its one port "<product> MIDI 1"; RtMidi adds the client and the
# port numbers. The units are plugged in one after the other, so their cards
# are 0 and up and their clients 16, 20, 24, ...; "Midi Through" (client 14)
# is the kernel's own, there on every desktop. Each unit's gadget side is a
# card too, whose port ("f_midi") usb-controllers holds open: the tool finds
# it in use, one "Error opening midi" each.
unit_port() { # NAME INDEX
  echo "$1:$1 MIDI 1 $((16 + 4 * $2)):0"
}

# The lines of the capture, in the order they stand in the JACK run (the
# kernel's runs differ in where a port's opening falls among the dialogues:
# opening a port takes milliseconds here), so both are compared as sorted
# lines; a "Updated device name:" text ends no line, so what the tool logged
# next is split off it first. The stopwatch's figures are the run's.
expected_capture_lines() {
  nano="$jack_expected/controllers/nanokontrol2.sent"
  lf "MIM_OPEN" "MIDI device found: Midi Through:Midi Through Port-0 14:0"
  lf "MIM_OPEN" "MIDI device found: $(unit_port BCF2000 0)"
  crlf "Send identiy request"
  lf "MIM_OPEN" "MIDI device found: $(unit_port nanoKONTROL2 1)"
  lf "MIM_OPEN" "MIDI device found: $(unit_port 'X-TOUCH MINI' 2)"
  lf "MIM_OPEN" "MIDI device found: $(unit_port 'USB Keyboard' 3)"
  lf "MIM_OPEN" "MIDI device found: $(unit_port 'Foot Controller' 4)"
  for unit in 0 1 2 3 4; do lf "Error opening midi" "Unknown error code: 1"; done
  controllers_dialogues "$nano" "\\n"
}

# The summary, exactly: in the order the ports were found.
expected_summary() {
  crlf "" ""
  crlf '"Midi Through:Midi Through Port-0 14:0"'
  crlf '"BCF2000 Stage" Supported by Veltrakon.'
  crlf "\"$(unit_port nanoKONTROL2 1)\" Supported by Veltrakon."
  crlf "\"$(unit_port 'X-TOUCH MINI' 2)\" Supported by Veltrakon."
  crlf "\"$(unit_port 'USB Keyboard' 3)\""
  crlf "\"$(unit_port 'Foot Controller' 4)\""
  crlf ""
}

capture_lines() { # REPORT: its capture (before the summary), one text a line, sorted
  awk 'BEGIN { RS = "\n" } /^\r?$/ { exit } { print }' "$1" |
    sed -e 's/^\(Updated device name: BCF2000 Stage\)\(.\)/\1\n\2/' \
      -e 's/^Run Time: [0-9.]*  Interval Time: [0-9.]*/Run Time: #  Interval Time: #/' | LC_ALL=C sort
}

summary_of() { # REPORT: from its first empty line on
  awk 'BEGIN { RS = "\n" } found || /^\r?$/ { found = 1; printf "%s\n", $0 }' "$1"
}

run="$work/controllers"
if "$root/tests/uml/run-in-guest.sh" "$build" controllers "$run"; then
  pass "controllers: the guest booted, plugged five units in, ran portprobe and powered off"
  same /dev/stdin "$run/portprobe-status" "controllers: portprobe ended with 0" <<STATUS
0
STATUS
  for file in "$jack_expected/controllers/"*; do
    same "$file" "$run/wire/$(basename "$file")" "controllers: $(basename "$file") as on JACK"
  done
  expected_capture_lines | LC_ALL=C sort >"$run/expected-capture"
  capture_lines "$run/portprobe-report.txt" >"$run/capture"
  same "$run/expected-capture" "$run/capture" "controllers: the report's capture, line by line"
  expected_summary >"$run/expected-summary"
  summary_of "$run/portprobe-report.txt" >"$run/summary"
  same "$run/expected-summary" "$run/summary" "controllers: the report's summary"
else
  fail "controllers: the guest did not finish its run"
fi

# Each open failure's reason stands on the line after it: other ports'
# dialogues are already running while the later ports are opened.
reasons_follow() { # REPORT
  awk '/^Error opening midi\r?$/ { pending = 1; next }
       pending { if ($0 !~ /^(MMSYSERR_|Unknown error code: )/) bad = 1; pending = 0 }
       END { exit bad || pending }' "$1"
}
if reasons_follow "$run/portprobe-report.txt"; then
  pass "controllers: each open failure's reason on the line after it"
else
  fail "controllers: an open failure's reason does not follow it"
fi

# A nanoKONTROL2 alone: its 402-byte scene reaches the tool through the
# kernel's raw-MIDI bridge, which hands the sequencer 256 bytes at a time,
# and the tool's image reaches the unit, each whole.
run="$work/nanokontrol2"
if "$root/tests/uml/run-in-guest.sh" "$build" nanokontrol2-next-cycle "$run"; then
  for file in nanokontrol2.received nanokontrol2.sent violations; do
    same "$jack_expected/controllers/$file" "$run/wire/$file" "nanokontrol2: $file as on JACK"
  done
  {
    lf "MIM_OPEN" "MIDI device found: Midi Through:Midi Through Port-0 14:0"
    lf "MIM_OPEN" "MIDI device found: $(unit_port nanoKONTROL2 0)"
    lf "Error opening midi" "Unknown error code: 1"
    crlf "SysEx message received:" "$(dump_of "$jack_expected/controllers/nanokontrol2.sent" 1)"
    lf "current settings are bad!"
    crlf "SysEx message received:" "$(dump_of "$jack_expected/controllers/nanokontrol2.sent" 2)"
    crlf "SysEx message received:" "$(dump_of "$jack_expected/controllers/nanokontrol2.sent" 3)"
    lf "data upload success!"
  } | LC_ALL=C sort >"$run/expected-capture"
  capture_lines "$run/portprobe-report.txt" >"$run/capture"
  same "$run/expected-capture" "$run/capture" "nanokontrol2: the report's capture, line by line"
  {
    crlf "" "" '"Midi Through:Midi Through Port-0 14:0"'
    crlf "\"$(unit_port nanoKONTROL2 0)\" Supported by Veltrakon." ""
  } >"$run/expected-summary"
  summary_of "$run/portprobe-report.txt" >"$run/summary"
  same "$run/expected-summary" "$run/summary" "nanokontrol2: the report's summary"
  if reasons_follow "$run/portprobe-report.txt"; then
    pass "nanokontrol2: the open failure's reason on the line after it"
  else
    fail "nanokontrol2: the open failure's reason does not follow it"
  fi
else
  fail "nanokontrol2: the guest did not finish its run"
fi

if [ "$failures" -ne 0 ]; then
  echo "=== $failures kernel end-to-end check(s) failed; the runs are kept in $work ==="
  exit 1
fi
rm -rf "$work"
echo "=== kernel end-to-end tests passed ==="
