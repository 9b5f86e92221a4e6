#!/bin/sh
# Runs the real portprobe (no MIDI service on a build machine: no ports) and
# checks the report file byte for byte and the closing message.
set -eu
binary="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
env -u DISPLAY -u WAYLAND_DISPLAY "$binary" >console.txt
printf '\r\n\r\nNo midi devices found.\r\n' >expected.txt
cmp expected.txt portprobe-report.txt
printf 'Portprobe finished, report saved to portprobe-report.txt; attach it to an email.' >expected-console.txt
cmp expected-console.txt console.txt
