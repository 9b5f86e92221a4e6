#!/bin/sh
# The report reader's page in a real browser: Debian's chromium, headless,
# opens the page from disk, a report is pasted into its text box (paste.js:
# the paste event carrying the text), and the findings the page then shows
# must be those portprobe-read prints for the same text. The reports are the
# simulated scenarios' (portprobe-demo), as they are and as a mail program
# passes them on, and two floods' (portprobe-flood: 118,000 lines, and the
# largest the tool writes, 21.6 MB), whose decoded log the page shows a page
# at a time; a text larger than the page takes is refused with the size it
# takes; a saved mail is opened through the page's file box. How long each
# took is printed; the figures are the benchmarks'
# (docs/performance.md, part 5).
# usage: tests/web/run-web-tests.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
page="$build/tools/report_reader/web/portprobe-reader.html"
read="$build/tools/report_reader/portprobe-read"
for needed in "$page" "$read" "$build/portprobe-demo" "$build/bench/portprobe-flood"; do
  [ -e "$needed" ] || { echo "missing $needed (build first)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work" 2>/dev/null || true' EXIT
failures=0
# Pastes a text into the page and compares its findings with portprobe-read's.
compare() { # name, text file
  local input=$2
  "$read" "$input" >"$input.cli" || true
  timeout 300 node "$root/tests/web/paste.js" "$page" "$input" "$(mktemp -d -p "$work")" >"$input.page" \
    2>"$input.browser" || cat "$input.browser"
  if verdict=$(python3 "$root/tests/web/page_findings.py" "$input.page" "$input.cli"); then
    echo "ok: $1: the page shows portprobe-read's $verdict ($(tr '\n' ' ' <"$input.browser"))"
  else
    echo "FAIL: $1: $verdict"
    failures=$((failures + 1))
  fi
}
for scenario in demo nano-failing busy-output unplugged wrong-length-replies; do
  mkdir -p "$work/$scenario"
  (cd "$work/$scenario" && env -u DISPLAY -u WAYLAND_DISPLAY "$build/portprobe-demo" "$scenario" >console.txt 2>&1)
  python3 "$root/tests/web/mail.py" "$work/$scenario/portprobe-report.txt" >"$work/$scenario/mailed.txt"
  for text in portprobe-report.txt mailed.txt; do
    compare "$scenario, $text" "$work/$scenario/$text"
  done
done
# A saved mail opened through the page's file box, as its bytes: the page
# must read it as portprobe-read reads the same file.
python3 "$root/tests/web/saved_mail.py" "$work/unplugged/portprobe-report.txt" >"$work/unplugged/saved.eml"
LC_ALL=C grep -q 'P.dale' "$work/unplugged/saved.eml" || { echo "FAIL: the saved mail holds no renamed port"; exit 1; }
OPEN_FILE=1 compare "unplugged, a saved windows-1252 mail through the file box" "$work/unplugged/saved.eml"
for flood in 118k:1640 largest:16000; do
  mkdir -p "$work/${flood%%:*}"
  (cd "$work/${flood%%:*}" && env -u DISPLAY -u WAYLAND_DISPLAY "$build/bench/portprobe-flood" 16 "${flood#*:}" 4.5 \
    >/dev/null 2>&1)
  compare "flood of $(wc -l <"$work/${flood%%:*}/portprobe-report.txt") lines" "$work/${flood%%:*}/portprobe-report.txt"
done
# The largest report attached base64 to a saved mail, opened through the
# file box.
python3 "$root/tests/tools/mail/support_desk.py" "$work/largest" "$work/largest/portprobe-report.txt" \
  "$work/demo/portprobe-report.txt"
OPEN_FILE=1 compare "the largest report attached to a saved mail" "$work/largest/flood.eml"
# Four times the largest report: more than the page takes.
if PASTE_REPEAT=4 timeout 300 node "$root/tests/web/paste.js" "$page" "$work/largest/portprobe-report.txt" \
    "$(mktemp -d -p "$work")" >"$work/too-large.page" 2>/dev/null &&
  grep -q 'is too large for this page, which takes reports up to about 64 MB' "$work/too-large.page" &&
  ! grep -q '^- ' "$work/too-large.page"; then
  echo "ok: a text of 86 MB: the page says it is too large and how large a report it takes"
else
  echo "FAIL: a text of 86 MB: $(cat "$work/too-large.page")"
  failures=$((failures + 1))
fi
if [ "$failures" -ne 0 ]; then
  echo "=== $failures web test(s) failed"
  exit 1
fi
echo "=== web tests passed"
