#!/bin/sh
# Runs portprobe-demo with the controller whose port name and identity text
# hold terminal escape sequences, as a user would: what reaches the terminal
# must be plain text with the bytes shown as \xNN, while the saved report
# keeps the device's bytes.
set -eu
binary="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
env -u DISPLAY -u WAYLAND_DISPLAY "$binary" hostile-names >console.txt
report=portprobe-report.txt
[ -f "$report" ] || { echo "no report saved"; exit 1; }

# Nothing but printable ASCII and line feeds on the terminal.
unsafe=$(LC_ALL=C tr -d '\n\040-\176' <console.txt | wc -c)
[ "$unsafe" -eq 0 ] || { echo "$unsafe raw control or 8-bit bytes reached the terminal"; od -c console.txt | head -40; exit 1; }
for shown in 'MIDI device found: BCF2000 \x1B[2J\x1B]0;pwned\x07' \
    'Updated device name: Stage\x1B[31m\x0D\x086n\x7F' \
    'MIDI device found: Keyboard \xC2\x9B31m\x0D\xFF\xFE'; do
  grep -qF "$shown" console.txt || { echo "console lacks: $shown"; cat console.txt; exit 1; }
done

# The report has the bytes as the devices sent them.
for raw in "$(printf 'MIDI device found: BCF2000 \033[2J\033]0;pwned\007')" \
    "$(printf 'Updated device name: Stage\033[31m\r\b6n\177')" \
    "$(printf '"Stage\033[31m\r\b6n\177" Supported by Veltrakon.')"; do
  LC_ALL=C grep -qF "$raw" "$report" || { echo "report lacks the raw bytes of: $raw" | od -c | head; exit 1; }
done
if LC_ALL=C grep -qF '\x1B' "$report"; then echo "the report holds escapes instead of the bytes"; exit 1; fi
echo "console escaped, report raw"
