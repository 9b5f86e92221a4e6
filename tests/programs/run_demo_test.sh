#!/bin/sh
# Runs portprobe-demo for its five seconds and checks that the report holds
# the dialogue of every virtual controller and the summary.
set -eu
binary="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
start=$(date +%s)
env -u DISPLAY -u WAYLAND_DISPLAY "$binary" >console.txt
elapsed=$(( $(date +%s) - start ))
if [ "$elapsed" -lt 5 ] || [ "$elapsed" -gt 15 ]; then
  echo "the demo took ${elapsed}s instead of about five"; exit 1
fi
tail -c 200 console.txt | grep -q 'Portprobe finished, report saved to portprobe-report.txt; attach it to an email.$'
report=portprobe-report.txt
for line in 'MIDI device found: BCF2000' 'Send identiy request' 'Got identity response' \
    'Updated device name: BCF2000 Stage' 'got MIDI: 90 3C 64' 'SysEx message received:' \
    '"USB Keyboard"' '"BCF2000 Stage" Supported by Veltrakon.' 'MIDI device found: nanoKONTROL2 _ SLIDER/KNOB' \
    'current settings are bad!' 'data upload success!' 'got MIDI: BA 1 46' \
    '"nanoKONTROL2 _ SLIDER/KNOB" Supported by Veltrakon.' \
    '"X-TOUCH MINI" Supported by Veltrakon.' '"Midi Fighter Twister" Supported by Veltrakon.'; do
  grep -qF "$line" "$report" || { echo "report lacks: $line"; cat "$report"; exit 1; }
done
# The scene found bad is rewritten, in that order.
bad=$(grep -n 'current settings are bad!' "$report" | cut -d: -f1)
success=$(grep -n 'data upload success!' "$report" | cut -d: -f1)
[ "$bad" -lt "$success" ] || { echo "the rewrite is reported before the check"; exit 1; }
