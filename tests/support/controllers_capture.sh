# Sourced by the end-to-end scripts of scene "controllers" (JACK and the
# user-mode kernel): the lines of the tool's report for the scene's
# dialogues and traffic, in the order the scene's time slots give
# (testkit/jack_controllers/jack_scenes.cpp), written from the tool's rules:
# the nanoKONTROL2's dialogue, the BCF2000's answer, the keyboard, the foot
# controller, the X-TOUCH MINI. What comes before (the ports as they are
# found) is each transport's own.
# A file against its expected one, with both shown when they differ; the
# sourcing script has pass and fail.
same() { # same EXPECTED ACTUAL WHAT
  if cmp -s "$1" "$2"; then
    pass "$3"
  else
    fail "$3"
    echo "--- expected"; cat -A "$1"; echo "--- actual"; cat -A "$2"
  fi
}

lf() { printf '%s\n' "$@"; }
crlf() { printf '%s\r\n' "$@"; }
stopwatch='Run Time: #  Interval Time: #'

# The report's dump of line N of a wire record.
dump_of() { # FILE N
  sed -n "${2}p" "$1" | awk '{ line = "{"; for (i = 1; i <= NF; i++) line = line " 0x" $i ","; sub(/,$/, ",};", line); print line }'
}

# RENAME_END: what ends "Updated device name: BCF2000 Stage", which ends no
# line in the report: "" as the report has it, or a line feed for a
# comparison line by line.
controllers_dialogues() { # NANO_SENT RENAME_END
  crlf "SysEx message received:" "$(dump_of "$1" 1)"
  lf "current settings are bad!"
  crlf "SysEx message received:" "$(dump_of "$1" 2)"
  crlf "SysEx message received:" "$(dump_of "$1" 3)"
  lf "data upload success!"
  crlf "SysEx message received:"
  crlf "{ 0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02, 0x42, 0x43, 0x46, 0x32, 0x30, 0x30, 0x30, 0x20, 0x53, 0x74, 0x61, 0x67, 0x65, 0xF7,};"
  crlf "Got identity response" "$stopwatch"
  printf '%s%b' "Updated device name: BCF2000 Stage" "$2"
  lf "got MIDI: 90 3C 64"
  crlf "$stopwatch" "$stopwatch"
  # The keyboard's SysEx is not here: a device without a handler has no
  # long-message buffer, so the message is dropped.
  lf "got MIDI: 80 3C 0" "got MIDI: B0 7 64" "got MIDI: F8 0 0" "got MIDI: FE 0 0"
  lf "got MIDI: B0 40 7F"
  crlf "$stopwatch" "$stopwatch"
  lf "got MIDI: BA 1 46"
  crlf "$stopwatch" "$stopwatch"
  lf "got MIDI: BA 1 48" "got MIDI: 9A 17 7F" "got MIDI: 8A 17 0"
}
