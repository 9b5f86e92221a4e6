#!/bin/bash
# Cross-compiles the Windows programs and tests them under Wine:
#  - portprobe.exe imports only Windows' own DLLs, and the stand-in winmm.dll
#    exports everything it imports from winmm;
#  - the unit tests, as a Windows program;
#  - portprobe.exe over Wine's own winmm (no MIDI ports): the exact report on
#    the clipboard and the closing message;
#  - portprobe.exe over the stand-in winmm.dll in each scenario of
#    tests/wine/expected/, once as the classic Windows MIDI stack and once as
#    the current Windows MIDI Services behind winmm (sends done inside the
#    call, controllers answering within a millisecond): the same exact
#    report, console, bytes on the wire and output calls either way, and no
#    breach of winmm's rules (a request that reaches a controller before its
#    input can answer is one);
#  - a flood of four ports: no message missing without the report saying so;
#  - a flood that goes on through the stop, each port on a thread of its
#    own: everything delivered before the stop logged, in order;
#  - each scenario's report read by the report reader: its expected findings;
#  - portprobe-demo.exe puts its whole demo on the clipboard;
#  - the stand-in catches a program that breaks those rules;
#  - the release archive holds the program, its readme and the report
#    reader's page.
# Everything runs in a fresh Wine prefix that is deleted afterwards.
#
# Usage: tests/wine/run-wine-tests.sh [--show SCENARIO [classic|current]]
#   --show prints what one scenario gives instead of comparing it (and
#   copies the run's files into $SHOW_INTO when that is set).
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
BUILD=$ROOT/build/mingw
EXPECTED=$ROOT/tests/wine/expected
# The report reader reads each report as support staff would (the Linux
# build's; CI builds the default preset first).
READER=$ROOT/build/default/tools/report_reader/portprobe-read
[ -x "$READER" ] || { echo "missing $READER (build the default preset first)"; exit 1; }

SHOW=""
SHOW_SERVICE=classic
if [ "${1:-}" = "--show" ]; then
  SHOW=${2:?scenario}
  SHOW_SERVICE=${3:-classic}
fi

echo "--- cross build"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2

WORK=$(mktemp -d /tmp/portprobe-wine.XXXXXX)
export WINEPREFIX=$WORK/prefix
export WINEDEBUG=-all
# No .NET or HTML engine installers, no debugger dialog on a crash, and no
# sound driver, so Wine's own winmm has no MIDI ports.
BASE_OVERRIDES="mscoree,mshtml=;winedbg.exe=d;winealsa.drv="
export WINEDLLOVERRIDES=$BASE_OVERRIDES
unset DISPLAY WAYLAND_DISPLAY FAKE_WINMM_SCENARIO FAKE_WINMM_OUT FAKE_WINMM_SERVICE

cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

FAILURES=0
fail() {
  echo "FAIL: $*"
  FAILURES=$((FAILURES + 1))
}
pass() {
  echo "ok: $*"
}

# Expected files write \r, \n, \\ and \xHH for the bytes; real line breaks
# in them only keep the file readable.
decode() {
  perl -0777 -pe 's/\n//g; s/\\(r|n|\\|x([0-9A-Fa-f]{2}))/$1 eq "r" ? "\r" : $1 eq "n" ? "\n" : $1 eq "\\" ? "\\" : chr(hex($2))/ge' "$1"
}

# The stopwatch's values differ from run to run; their form does not.
mask_stopwatch() {
  sed -E 's/Run Time: [0-9]+\.[0-9]{6}  Interval Time: [0-9]+\.[0-9]{6}/Run Time: T  Interval Time: T/g'
}

windows_path() {
  echo "Z:$(echo "$1" | tr / '\\')"
}

same() { # what, expected file, actual file
  if cmp -s "$2" "$3"; then
    pass "$1"
  else
    fail "$1"
    diff <(od -c "$2") <(od -c "$3") | head -40 || true
  fi
}

echo "--- imports"
IMPORTS=$(x86_64-w64-mingw32-objdump -p "$BUILD/portprobe.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort)
echo "portprobe.exe imports:" $IMPORTS
if echo "$IMPORTS" | grep -qiE 'libstdc|libgcc|libwinpthread|mingw'; then
  fail "portprobe.exe needs a MinGW runtime DLL"
elif [ "$IMPORTS" != "$(printf '%s\n' kernel32.dll msvcrt.dll user32.dll winmm.dll)" ]; then
  fail "portprobe.exe imports other DLLs than KERNEL32, msvcrt, USER32 and WINMM"
else
  pass "portprobe.exe imports only Windows' own DLLs"
fi
# The idle-timer reset cannot be watched under Wine; at least it is called.
if x86_64-w64-mingw32-objdump -p "$BUILD/portprobe.exe" | grep -w SetThreadExecutionState >/dev/null; then
  pass "portprobe.exe resets the idle timers (imports SetThreadExecutionState)"
else
  fail "portprobe.exe never calls SetThreadExecutionState"
fi
# The winmm functions portprobe.exe imports, then those the stand-in exports.
WANTED=$(x86_64-w64-mingw32-objdump -p "$BUILD/portprobe.exe" |
  awk '/DLL Name: WINMM.dll/ {on=1; next} /DLL Name:/ {on=0} on && $3 ~ /^midi/ {print $3}' | sort)
OFFERED=$(x86_64-w64-mingw32-objdump -p "$BUILD/testkit/fake_winmm/winmm.dll" |
  sed -n 's/^\s*\[ *[0-9]*\] \(midi[A-Za-z]*\)$/\1/p' | sort)
MISSING=$(comm -23 <(echo "$WANTED") <(echo "$OFFERED"))
if [ -z "$WANTED" ] || [ -n "$MISSING" ]; then
  fail "the stand-in winmm.dll lacks: ${MISSING:-(no winmm imports found)}"
else
  pass "the stand-in exports all $(echo "$WANTED" | wc -l) winmm functions portprobe.exe imports"
fi

echo "--- Wine prefix"
timeout 180 wineboot -i >/dev/null 2>&1 || { fail "wineboot"; exit 1; }
# One server for all runs, so the clipboard and start-up are shared.
timeout 30 wineserver -p 60 || true

# Runs portprobe.exe (or another program) in its own directory with the
# clipboard reader already running. SCENARIO "-" means Wine's own winmm;
# the stand-in behaves as the service $SERVICE names (classic by default).
# Leaves the files of the run in $RUN. With NO_CLIPBOARD set the program is
# not expected to use the clipboard and the reader is stopped after it.
run_program() { # scenario, program, arguments...
  local scenario=$1 program=$2
  shift 2
  RUN=$(mktemp -d "$WORK/run.XXXXXX")
  cp "$program" "$RUN/"
  local env=(WINEDLLOVERRIDES="$BASE_OVERRIDES")
  if [ "$scenario" != "-" ]; then
    cp "$BUILD/testkit/fake_winmm/winmm.dll" "$RUN/"
    env=(WINEDLLOVERRIDES="$BASE_OVERRIDES;winmm=n,b" FAKE_WINMM_SCENARIO="$scenario"
         FAKE_WINMM_SERVICE="${SERVICE:-classic}" FAKE_WINMM_OUT="$(windows_path "$RUN")")
  fi
  timeout 60 wine "$BUILD/tests/wine/clipboard_reader.exe" ${READER_ARGS:-40} >"$RUN/reader.txt" 2>&1 &
  local reader=$!
  for _ in $(seq 300); do
    grep -q ready "$RUN/reader.txt" 2>/dev/null && break
    sleep 0.1
  done
  (cd "$RUN" && env "${env[@]}" timeout 60 wine "./$(basename "$program")" "$@" >"$RUN/stdout.txt" 2>"$RUN/stderr.txt") \
    && RUN_STATUS=0 || RUN_STATUS=$?
  if [ "${NO_CLIPBOARD:-}" = "" ]; then
    wait "$reader" || true
  else
    kill "$reader" 2>/dev/null || true
    wait "$reader" 2>/dev/null || true
  fi
  # Console text comes back with CR LF; the report from the reader as hex.
  tr -d '\r' <"$RUN/stdout.txt" | mask_stopwatch >"$RUN/console.txt"
  tr -d '\r' <"$RUN/reader.txt" | perl -ne 'print pack("H*", $1) if /^CF_TEXT \d+ ([0-9a-f]*)$/' >"$RUN/report-as-pasted.txt"
  mask_stopwatch <"$RUN/report-as-pasted.txt" >"$RUN/report.txt"
  tr -d '\r' <"$RUN/reader.txt" | sed -n 's/^CF_TEXT \([0-9]*\) .*/\1/p' >"$RUN/text-size.txt"
  tr -d '\r' <"$RUN/reader.txt" | sed -n 's/^CF_UNICODETEXT \(.*\)/\1/p' >"$RUN/unicode.txt"
}

# The clipboard's UTF-16 text must be the report's UTF-8 text, converted.
check_unicode() { # what
  local expected
  expected=$(tr -d '\r' <"$RUN/reader.txt" | perl -ne 'print pack("H*", $1) if /^CF_TEXT \d+ ([0-9a-f]*)$/' |
    iconv -f UTF-8 -t UTF-16BE | od -An -v -tx1 | tr -d ' \n')
  if [ -n "$expected" ] && [ "$(cat "$RUN/unicode.txt")" = "$expected" ]; then
    pass "$1: CF_UNICODETEXT holds the same report"
  else
    fail "$1: CF_UNICODETEXT differs from the report"
  fi
  # Twice the report's length plus two bytes were asked for.
  local length
  length=$(tr -d '\r' <"$RUN/reader.txt" | sed -n 's/^CF_TEXT [0-9]* \([0-9a-f]*\)$/\1/p' | tr -d '\n' | wc -c)
  if [ "$(cat "$RUN/text-size.txt")" = "$((length + 2))" ]; then
    pass "$1: CF_TEXT memory is twice the length plus two"
  else
    fail "$1: CF_TEXT memory is $(cat "$RUN/text-size.txt") bytes for $((length / 2)) of text"
  fi
}

if [ -n "$SHOW" ]; then
  SERVICE=$SHOW_SERVICE run_program "$SHOW" "$BUILD/portprobe.exe"
  for file in console.txt report.txt wire.txt calls.txt violations.txt stderr.txt; do
    echo "=== $file"
    [ -f "$RUN/$file" ] && cat -A "$RUN/$file"
  done
  if [ -n "${SHOW_INTO:-}" ]; then mkdir -p "$SHOW_INTO" && cp "$RUN"/*.txt "$SHOW_INTO/"; fi
  exit 0
fi

echo "--- unit tests"
if (cd "$BUILD/tests" && timeout 300 wine ./portprobe_tests.exe >"$WORK/unit.txt" 2>&1); then
  pass "$(grep -E '^\[  PASSED  \]' "$WORK/unit.txt" | tr -d '\r')"
else
  tr -d '\r' <"$WORK/unit.txt" | grep -E 'FAILED|Failure' -A6 | head -60
  fail "unit tests under Wine"
fi

echo "--- portprobe.exe over Wine's own winmm"
run_program - "$BUILD/portprobe.exe"
printf '\r\n\r\nNo midi devices found.\r\n' >"$WORK/no-ports.report"
same "no ports: report" "$WORK/no-ports.report" "$RUN/report.txt"
printf 'Portprobe finished, paste clipboard into an email.' >"$WORK/no-ports.console"
same "no ports: console" "$WORK/no-ports.console" "$RUN/console.txt"
check_unicode "no ports"
[ "$RUN_STATUS" = 0 ] || fail "no ports: exit status $RUN_STATUS"

# A scenario's file for the service $SERVICE: expected/$SERVICE/ holds those
# that differ from the rest.
expected_file() { # scenario, extension
  if [ -f "$EXPECTED/$SERVICE/$1.$2" ]; then echo "$EXPECTED/$SERVICE/$1.$2"; else echo "$EXPECTED/$1.$2"; fi
}

for expected in "$EXPECTED"/*.report; do
  # Both services unless the scenario names one (the hangs take 20 s a run).
  services="classic current"
  [ -f "${expected%.report}.services" ] && services=$(cat "${expected%.report}.services")
  for SERVICE in $services; do
  scenario=$(basename "$expected" .report)
  echo "--- portprobe.exe over the stand-in winmm ($SERVICE): $scenario"
  run_program "$scenario" "$BUILD/portprobe.exe"
  scenario="$scenario ($SERVICE)"
  name=$(basename "$expected" .report)
  [ "$RUN_STATUS" = 0 ] || fail "$scenario: exit status $RUN_STATUS"
  decode "$(expected_file "$name" report)" >"$RUN/expected.report"
  same "$scenario: report" "$RUN/expected.report" "$RUN/report.txt"
  decode "$(expected_file "$name" console)" >"$RUN/expected.console"
  same "$scenario: console" "$RUN/expected.console" "$RUN/console.txt"
  "$READER" "$RUN/report-as-pasted.txt" --findings >"$RUN/findings.txt" || true
  same "$scenario: the report reader's findings" "$(expected_file "$name" findings)" "$RUN/findings.txt"
  touch "$RUN/wire.txt" "$RUN/calls.txt"
  same "$scenario: bytes on the wire" "$(expected_file "$name" wire)" "$RUN/wire.txt"
  # Calls of one port keep their order; ports may interleave.
  LC_ALL=C sort -s -k2,2 "$RUN/calls.txt" >"$RUN/calls.sorted"
  same "$scenario: output calls" "$(expected_file "$name" calls)" "$RUN/calls.sorted"
  check_unicode "$scenario"
  if [ -s "$RUN/violations.txt" ]; then
    fail "$scenario: portprobe.exe broke winmm's rules:"
    cat "$RUN/violations.txt"
  else
    pass "$scenario: no breach of winmm's rules"
  fi
  done
done

echo "--- a clipboard another program holds"
# Held for longer than the retries last: the report goes to a file beside
# the program, byte for byte, and the console says where; the program does
# not wait for a key, its output being redirected.
READER_ARGS="hold 15" NO_CLIPBOARD=1 SERVICE=current run_program bcf2000-rename "$BUILD/portprobe.exe"
[ "$RUN_STATUS" = 0 ] || fail "held clipboard: exit status $RUN_STATUS"
decode "$EXPECTED/bcf2000-rename.report" >"$RUN/expected.report"
mask_stopwatch <"$RUN/portprobe-report.txt" >"$RUN/file.txt" 2>/dev/null || true
same "held clipboard: the report in its file" "$RUN/expected.report" "$RUN/file.txt"
{ decode "$EXPECTED/bcf2000-rename.console" | sed 's/Portprobe finished, paste clipboard into an email\.$//'
  printf 'Could not open clipboard.Portprobe finished, report saved to %s; attach it to an email.' \
    "$(windows_path "$RUN")\\portprobe-report.txt"; } >"$RUN/expected.console"
same "held clipboard: the console says where the report is" "$RUN/expected.console" "$RUN/console.txt"

echo "--- a console nobody reads"
# Standard output a pipe held open and never read: the console stalls once
# the pipe is full; the report still reaches the clipboard whole, on time,
# and the program exits with 0. The runaway SysEx comes in short-message
# packets, as only drivers of the classic stack pass it on.
RUN=$(mktemp -d "$WORK/run.XXXXXX")
cp "$BUILD/portprobe.exe" "$BUILD/testkit/fake_winmm/winmm.dll" "$RUN/"
mkfifo "$RUN/console"
exec 7<>"$RUN/console"
timeout 60 wine "$BUILD/tests/wine/clipboard_reader.exe" 30 >"$RUN/reader.txt" 2>&1 &
reader=$!
for _ in $(seq 300); do grep -q ready "$RUN/reader.txt" 2>/dev/null && break; sleep 0.1; done
started=$(date +%s)
(cd "$RUN" && env WINEDLLOVERRIDES="$BASE_OVERRIDES;winmm=n,b" FAKE_WINMM_SCENARIO=runaway-sysex FAKE_WINMM_SERVICE=classic \
   FAKE_WINMM_OUT="$(windows_path "$RUN")" timeout 60 wine ./portprobe.exe >"$RUN/console" 2>"$RUN/stderr.txt") \
  && RUN_STATUS=0 || RUN_STATUS=$?
elapsed=$(( $(date +%s) - started ))
exec 7>&-
wait "$reader" || true
[ "$RUN_STATUS" = 0 ] || fail "stuck console: exit status $RUN_STATUS"
tr -d '\r' <"$RUN/reader.txt" | perl -ne 'print pack("H*", $1) if /^CF_TEXT \d+ ([0-9a-f]*)$/' >"$RUN/report.txt"
# 41,006 short messages: the runaway SysEx in packets and the notes around it.
received=$(grep -o 'got MIDI: ' "$RUN/report.txt" | wc -l)
if [ "$received" -eq 41006 ]; then pass "stuck console: all 41006 messages on the clipboard"; else fail "stuck console: $received of 41006 messages on the clipboard"; fi
if [ "$elapsed" -le 15 ]; then pass "stuck console: ended after ${elapsed}s"; else fail "stuck console: ended after ${elapsed}s"; fi

echo "--- a flood"
# Four ports, 4,000 short messages a second each for two seconds, well
# within this machine's reach: every message in the report and on the
# console, or missing only where the report says it was lost.
if FLOOD=$("$ROOT/scripts/wine-flood.sh" 4 4000 2 "$WORK/flood"); then
  pass "flood: nothing missing without a word ($FLOOD)"
else
  fail "flood: messages missing without a word ($FLOOD)"
fi

echo "--- a flood through the stop"
# Four Twisters on the current service, each port delivered from a thread
# of its own, a short message every millisecond and a long one in place of
# every 25th, going on through the stop: each stream unbroken in the report
# and on the console; everything delivered before a port's stop on the
# console, and in the report but what came while the report was being
# taken (250 at most, a quarter of a second); the report taken and the
# ports stopped within five seconds and one of the program's first call.
SERVICE=current run_program flood-through-stop "$BUILD/portprobe.exe"
[ "$RUN_STATUS" = 0 ] || fail "flood through the stop: exit status $RUN_STATUS"
if CHECK=$("$ROOT/build/default/testkit/flood-check" --through-stop "$RUN/report.txt" "$RUN/console.txt" \
    "$RUN/stops.txt" 250); then
  pass "flood through the stop: everything delivered before the stop logged, unbroken"
else
  fail "flood through the stop: $CHECK"
fi
first_stop=$(echo "$CHECK" | sed -n 's/^first stop at \([0-9]*\) ms$/\1/p')
if [ -n "$first_stop" ] && [ "$first_stop" -le 6000 ]; then
  pass "flood through the stop: report taken and input stopped ${first_stop} ms after the first call"
else
  fail "flood through the stop: input stopped ${first_stop:-never} ms after the first call"
fi
[ -s "$RUN/violations.txt" ] && fail "flood through the stop: $(cat "$RUN/violations.txt")"

echo "--- portprobe-demo.exe"
# Its controllers talk at once, so only what each must have said is checked.
run_program - "$BUILD/portprobe-demo.exe"
missing=""
for line in 'Updated device name: BCF2000 Stage' 'current settings are bad!' 'data upload success!' \
    'got MIDI: BA 1 46' '"BCF2000 Stage" Supported by Veltrakon.' \
    '"nanoKONTROL2 _ SLIDER/KNOB" Supported by Veltrakon.' \
    '"X-TOUCH MINI" Supported by Veltrakon.' '"USB Keyboard"'; do
  grep -qF "$line" "$RUN/report.txt" || missing="$missing [$line]"
done
if [ -z "$missing" ] && [ "$(tail -c 50 "$RUN/console.txt")" = "Portprobe finished, paste clipboard into an email." ]; then
  pass "portprobe-demo.exe: the whole demo is on the clipboard"
else
  fail "portprobe-demo.exe: report lacks$missing"
fi

echo "--- the stand-in catches broken rules"
while IFS='|' read -r mode scenario SERVICE violation; do
  [ -n "$mode" ] || continue
  NO_CLIPBOARD=1 run_program "$scenario" "$BUILD/tests/wine/rule_breaker.exe" "$mode"
  [ "$RUN_STATUS" = 0 ] || fail "$mode: rule_breaker.exe did not get to break the rule ($RUN_STATUS)"
  if [ "$(cat "$RUN/violations.txt" 2>/dev/null)" = "$violation" ] && grep -qF "$violation" "$RUN/stderr.txt"; then
    pass "$mode: caught"
  else
    fail "$mode: expected the violation '$violation', got '$(cat "$RUN/violations.txt" 2>/dev/null)'"
  fi
done <<'EOF'
call-in-callback|unknown-port|classic|midiInAddBuffer called from inside the driver callback
changed-queued-input|bcf2000-rename|classic|a MIDIHDR the driver holds was changed (data pointer or length) (when a message arrived for it)
changed-held-send|busy-output|classic|the bytes of a send the driver holds were changed (at exit)
freed-held-send|busy-output|classic|a MIDIHDR the driver holds was freed (at exit)
request-before-start|bcf2000-rename|current|BCF2000: a message reached the controller before its input was started
request-without-buffer|bcf2000-rename|current|BCF2000: a message reached the controller while its input had no buffer
EOF

echo "--- release archive"
(cd "$BUILD" && cpack -G ZIP >/dev/null)
ARCHIVE=$(ls "$BUILD"/portprobe-*-win64.zip 2>/dev/null | head -1)
if [ -n "$ARCHIVE" ]; then
  CONTENT=$(cmake -E tar tf "$ARCHIVE" | sed 's|^[^/]*/||' | sort | tr '\n' ' ')
  if [ "$CONTENT" = "README.txt portprobe-reader.html portprobe.exe " ]; then
    pass "$(basename "$ARCHIVE") holds portprobe.exe, README.txt and the report reader's page"
  else
    fail "release archive holds: $CONTENT"
  fi
else
  fail "no release archive"
fi

if [ "$FAILURES" -ne 0 ]; then
  echo "=== $FAILURES Wine test(s) failed"
  exit 1
fi
echo "=== all Wine tests passed"
