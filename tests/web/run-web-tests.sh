#!/bin/sh
# The report reader's page in a real browser: Debian's chromium, headless,
# opens the page from disk, a report is pasted into its text box (paste.js:
# focus, then the text inserted as a paste inserts it), and the findings the
# page then shows must be those portprobe-read prints for the same text. The
# reports are the simulated scenarios' (portprobe-demo), as they are and as
# a mail program passes them on.
# usage: tests/web/run-web-tests.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
page="$build/tools/report_reader/web/portprobe-reader.html"
read="$build/tools/report_reader/portprobe-read"
for needed in "$page" "$read" "$build/portprobe-demo"; do
  [ -e "$needed" ] || { echo "missing $needed (build first)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
for scenario in demo nano-failing busy-output unplugged wrong-length-replies; do
  mkdir -p "$work/$scenario"
  (cd "$work/$scenario" && env -u DISPLAY -u WAYLAND_DISPLAY "$build/portprobe-demo" "$scenario" >console.txt 2>&1)
  python3 "$root/tests/web/mail.py" "$work/$scenario/portprobe-report.txt" >"$work/$scenario/mailed.txt"
  for text in portprobe-report.txt mailed.txt; do
    input="$work/$scenario/$text"
    "$read" "$input" >"$input.cli" || true
    timeout 120 node "$root/tests/web/paste.js" "$page" "$input" "$work/profile" >"$input.page" 2>"$input.browser" ||
      cat "$input.browser"
    if verdict=$(python3 "$root/tests/web/page_findings.py" "$input.page" "$input.cli"); then
      echo "ok: $scenario, $text: the page shows portprobe-read's $verdict"
    else
      echo "FAIL: $scenario, $text: $verdict"
      failures=$((failures + 1))
    fi
  done
done
if [ "$failures" -ne 0 ]; then
  echo "=== $failures web test(s) failed"
  exit 1
fi
echo "=== web tests passed"
