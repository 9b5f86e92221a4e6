#!/bin/bash
# The Windows build under a flood: portprobe.exe under Wine over the
# stand-in winmm.dll, playing the benchmarks' numbered flood (DEVICES ports,
# PER_SECOND short messages a second each, for SECONDS) as the current
# Windows MIDI service, its console into a file and its report taken off
# the clipboard. flood-check then counts the flood in the report and on the
# console. Prints one line:
#   devices D sent N report R console C said-lost L wall W cpu P wineserver-cpu S
# and exits 0 when every message is in the report, or missing from a device
# whose report line says it lost exactly that many (--accounted), and the
# console shows every one the report holds or says it left lines out.
#
# usage: scripts/wine-flood.sh DEVICES PER_SECOND SECONDS [WORK_DIRECTORY]
# Needs build/mingw (portprobe.exe, the stand-in, clipboard_reader.exe,
# flood-check.exe) and a Wine prefix in WINEPREFIX whose server runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/mingw
devices=$1
perSecond=$2
seconds=$3
work=${4:-$(mktemp -d)}
mkdir -p "$work"
perDevice=$(awk "BEGIN { printf \"%d\", $perSecond * $seconds }")
sent=$((devices * perDevice))

cp "$build/portprobe.exe" "$build/testkit/fake_winmm/winmm.dll" "$work/"
overrides="mscoree,mshtml=;winedbg.exe=d;winealsa.drv="
timeout 120 wine "$build/tests/wine/clipboard_reader.exe" 90 >"$work/reader.txt" 2>&1 &
reader=$!
for _ in $(seq 300); do grep -q ready "$work/reader.txt" 2>/dev/null && break; sleep 0.1; done

cpu_of() { # user + system ticks of a process
  awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}
# The server of this prefix: its working directory is named after the
# prefix's device and inode.
server=""
serverDir="server-$(printf '%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")"
for pid in $(pgrep "^wineserver" || true); do
  [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$serverDir" ] && server=$pid
done
serverBefore=$([ -n "$server" ] && cpu_of "$server" || echo 0)
ticks=$(getconf CLK_TCK)
(cd "$work" && WINEDLLOVERRIDES="$overrides;winmm=n,b" FAKE_WINMM_SCENARIO="numbered-flood $devices $perSecond $seconds" \
  FAKE_WINMM_SERVICE=current /usr/bin/time -f "%e %U %S" -o "$work/time.txt" \
  timeout 120 wine ./portprobe.exe >"$work/console.txt" 2>"$work/stderr.txt") || true
serverAfter=$([ -n "$server" ] && cpu_of "$server" || echo 0)
wait "$reader" || true

tr -d '\r' <"$work/reader.txt" | perl -ne 'print pack("H*", $1) if /^CF_TEXT \d+ ([0-9a-f]*)$/' >"$work/report.txt"
tr -d '\r' <"$work/console.txt" >"$work/console-lf.txt"
check() { # LOG: flood-check's line, and its verdict
  wine "$build/testkit/flood-check.exe" "$(echo "Z:$1" | tr / '\\')" "$devices" "$perDevice" --accounted 2>/dev/null | tr -d '\r'
}
reportLine=$(check "$work/report.txt") && reportOk=1 || reportOk=0
consoleLine=$(check "$work/console-lf.txt") && consoleOk=1 || consoleOk=0
logged() { sed -n 's/.*logged \([0-9]*\),.*/\1/p' <<<"$1" | head -1; }
saidLost() { sed -n 's/.*said lost \([0-9]*\).*/\1/p' <<<"$1" | head -1; }
read -r wall user system <"$work/time.txt"
printf 'devices %s sent %s report %s console %s said-lost %s wall %s cpu %.2f wineserver-cpu %.2f\n' \
  "$devices" "$sent" "$(logged "$reportLine")" "$(logged "$consoleLine")" "$(saidLost "$reportLine")" "$wall" \
  "$(awk "BEGIN { print $user + $system }")" "$(awk "BEGIN { print ($serverAfter - $serverBefore) / $ticks }")"
# The console may lag a stuck console's bound behind, but says so.
consoleOk=$((consoleOk || $(grep -c 'lines left out here' "$work/console-lf.txt" || true) > 0))
[ "$reportOk" = 1 ] && [ "$consoleOk" = 1 ]
