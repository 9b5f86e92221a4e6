#!/bin/sh
# A call to the MIDI service that never returns (an open, a start, a send),
# through portprobe-demo as a user runs it: each run still ends, within its
# deadline and a little more, with exit code 0 and its report saved: what
# was captured, the line saying why it stopped waiting, and the devices.
# The three run side by side.
set -eu
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for scenario in hung-open hung-start hung-send; do
  mkdir "$work/$scenario"
  (
    cd "$work/$scenario"
    start=$(date +%s)
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$binary" "$scenario" >console.txt 2>stderr.txt || status=$?
    echo "$status $(( $(date +%s) - start ))" >result
  ) &
done
wait
failed=0
for scenario in hung-open hung-start hung-send; do
  dir="$work/$scenario"
  read -r status elapsed <"$dir/result"
  report="$dir/portprobe-report.txt"
  if [ "$status" -ne 0 ]; then echo "$scenario: exit status $status"; failed=1; continue; fi
  # The deadline is 20 s; at most 30 s is what the run promises.
  if [ "$elapsed" -lt 20 ] || [ "$elapsed" -gt 30 ]; then echo "$scenario: ended after ${elapsed}s"; failed=1; fi
  [ -f "$report" ] || { echo "$scenario: no report saved"; failed=1; continue; }
  grep -qF 'Portprobe stopped waiting after 20 seconds: a call to the MIDI service did not return.' "$report" ||
    { echo "$scenario: the report does not say why it ended"; cat "$report"; failed=1; }
  tail -c 200 "$dir/console.txt" | grep -q 'Portprobe finished, report saved to portprobe-report.txt; attach it to an email.$' ||
    { echo "$scenario: the console does not say where the report is"; failed=1; }
  [ -s "$dir/stderr.txt" ] && { echo "$scenario: something on stderr:"; cat "$dir/stderr.txt"; failed=1; }
done
case "$(tail -c 60 "$work/hung-send/portprobe-report.txt" | tr -d '\r')" in
  *'"BCF2000" Supported by Veltrakon.'*) ;;
  *) echo "hung-send: the device held under the stuck send is missing from the summary"; failed=1 ;;
esac
exit "$failed"
