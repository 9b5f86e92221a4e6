#!/bin/sh
# portprobe-demo with its standard output a pipe that nobody reads, as a
# user who pipes it into a program that hangs, or a console nobody looks at:
# the console stalls once the pipe's buffer is full, but the run still ends
# on time with its whole report saved, and the program exits with 0 after
# giving the console its one second.
set -eu
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'exec 3>&-; rm -rf "$work"' EXIT
cd "$work"
mkfifo console
# Held open for reading, never read: writes block once the pipe is full.
exec 3<>console
start=$(date +%s)
status=0
env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$binary" reply-flood >console 2>stderr.txt || status=$?
elapsed=$(( $(date +%s) - start ))
[ "$status" -eq 0 ] || { echo "exit status $status"; exit 1; }
# Five seconds, the report, and at most one second for the console; the
# bound is generous for the sanitizer builds.
[ "$elapsed" -le 15 ] || { echo "the run took ${elapsed}s"; exit 1; }
report=portprobe-report.txt
[ -f "$report" ] || { echo "no report saved"; exit 1; }
received=$(grep -o 'SysEx message received:' "$report" | wc -l)
[ "$received" -eq 1550 ] || { echo "the report holds $received messages of the 1550 sent"; exit 1; }
tail -c 200 "$report" | tr -d '\r' | grep -q '^"nanoKONTROL2" Supported by Veltrakon.$' ||
  { echo "the report lacks its summary"; tail -c 300 "$report"; exit 1; }
[ ! -s stderr.txt ] || { echo "something on stderr:"; cat stderr.txt; exit 1; }
