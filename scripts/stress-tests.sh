#!/bin/sh
# A developer's sweep for tests whose outcome hangs on how fast the machine
# is: runs the suites again and again while both cores are kept busy, and
# lists every test that failed at least once, with its message. Not part of
# CI: a sweep of ten runs takes hours.
#
# usage: scripts/stress-tests.sh [RUNS] [STAGE...]
#   RUNS   how many times each stage runs in a row (default 10)
#   STAGE  default, asan, tsan (that preset's ctest suite), jack-default,
#          jack-asan, jack-tsan (the JACK end-to-end runs of that build),
#          wine (the Windows programs under Wine); all of them by default
# Environment: STRESS_FILTER, a ctest -R pattern that narrows the ctest
# stages; STRESS_LOAD=0 runs without the load (to tell load from fault);
# STRESS_LOG, where the runs' logs go (default a new folder under /tmp).
#
# Each stage's build is made once, before its runs, and with no load.
set -eu
cd "$(dirname "$0")/.."
runs=${1:-10}
[ $# -gt 0 ] && shift
stages=${*:-"default asan tsan jack-default jack-asan jack-tsan wine"}
log=${STRESS_LOG:-$(mktemp -d /tmp/portprobe-stress-XXXXXX)}
mkdir -p "$log"

if [ "${STRESS_LOAD:-1}" != 0 ] && ! command -v stress-ng >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends stress-ng >/dev/null
fi

load_pid=""
start_load() {
  [ "${STRESS_LOAD:-1}" = 0 ] && return 0
  # Every core at full load, at the same priority as the tests.
  stress-ng --cpu "$(nproc)" --cpu-load 100 --quiet >/dev/null 2>&1 &
  load_pid=$!
}
stop_load() {
  [ -n "$load_pid" ] || return 0
  kill "$load_pid" 2>/dev/null || true
  wait "$load_pid" 2>/dev/null || true
  load_pid=""
}
trap 'stop_load' EXIT
trap 'exit 1' INT TERM HUP

build() { # PRESET
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" >"$log/build-$1.txt" 2>&1 || { echo "build of $1 failed: $log/build-$1.txt"; exit 1; }
}

# One line per failure: STAGE<TAB>TEST<TAB>RUN<TAB>MESSAGE.
failures="$log/failures.tsv"
: >"$failures"

# ctest's list of failed tests, each with the first failure message gtest
# printed for it.
ctest_failures() { # STAGE RUN OUTPUT
  sed -n '/The following tests FAILED:/,$ s/^[[:space:]]*[0-9][0-9]* - \(.*\) ([^()]*)$/\1/p' "$3" |
    sed 's/  *# GetParam.*$//' | sort -u | while read -r name; do
      message=$(awk -v name="$name" '
        index($0, name) && /[*][*][*]|Subprocess|SEGFAULT/ { on = 1; next }
        on && /^ *Start +[0-9]+:|^ *[0-9]+\/[0-9]+ Test +#/ { exit }
        on && /Failure|Which is|Expected|ERROR|ThreadSanitizer|runtime error/ { print; if (++n >= 4) exit }' "$3" |
        tr '\n' ' ' | cut -c1-300)
      printf '%s\t%s\t%s\t%s\n' "$1" "$name" "$2" "$message" >>"$failures"
    done
}

# The end-to-end scripts print "FAIL: what" for each check that failed.
script_failures() { # STAGE RUN OUTPUT
  grep '^FAIL: ' "$3" | while read -r line; do
    printf '%s\t%s\t%s\t%s\n' "$1" "${line#FAIL: }" "$2" "" >>"$failures"
  done
}

for stage in $stages; do
  case "$stage" in
    default | asan | tsan) build "$stage" ;;
    jack-*) build "${stage#jack-}" ;;
    wine) ;; # the Wine script builds what it runs
    *) echo "no stage named $stage"; exit 2 ;;
  esac
  run=1
  while [ "$run" -le "$runs" ]; do
    out="$log/$stage-$run.txt"
    start_load
    begun=$(date +%s)
    case "$stage" in
      default | asan | tsan)
        ctest --preset "$stage" --output-on-failure ${STRESS_FILTER:+-R "$STRESS_FILTER"} >"$out" 2>&1 || true
        ctest_failures "$stage" "$run" "$out"
        ;;
      jack-*)
        tests/jack/run-jack-tests.sh "build/${stage#jack-}" >"$out" 2>&1 || true
        script_failures "$stage" "$run" "$out"
        ;;
      wine)
        tests/wine/run-wine-tests.sh >"$out" 2>&1 || true
        script_failures "$stage" "$run" "$out"
        ;;
    esac
    stop_load
    echo "$stage run $run of $runs: $(($(date +%s) - begun)) s, $(awk -F'\t' -v s="$stage" -v r="$run" '$1 == s && $3 == r' "$failures" | wc -l) failure(s)"
    run=$((run + 1))
  done
done

echo
if [ ! -s "$failures" ]; then
  echo "=== no test failed in $runs run(s) of: $stages (logs: $log) ==="
  exit 0
fi
echo "=== tests that failed at least once (stage, test, runs failed of $runs, first message; logs: $log) ==="
awk -F'\t' '{ key = $1 "\t" $2; count[key]++; if (!(key in first)) { first[key] = $4; order[++n] = key } }
  END { for (i = 1; i <= n; i++) { k = order[i]; print k "\t" count[k] "\t" first[k] } }' "$failures"
exit 1
