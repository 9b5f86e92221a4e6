#!/bin/sh
# Runs the real portprobe inside the tests' user-mode kernel against the
# units of SCENE (one of jack-controllers' scenes, each unit a USB MIDI
# gadget bound by the kernel's own snd-usb-audio), and leaves in WORK what
# the run left: portprobe-report.txt, console.txt, stderr.txt, the units'
# wire records (wire/), the kernel's card list (cards.txt) and the
# sequencer's clients (sequencer.txt), and the guest's own console
# (kernel.log).
# usage: tests/uml/run-in-guest.sh BUILD_DIR SCENE WORK
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
scene=$2
mkdir -p "$3"
work=$(cd "$3" && pwd)
kernel=$("$root/tests/uml/build-kernel.sh")
units=$("$build/testkit/usb_controllers/usb-controllers" --count "$scene")
cat >"$work/job" <<JOB
SCENE='$scene'
UNITS=$units
WORK='$work'
PORTPROBE='$build/portprobe'
CONTROLLERS='$build/testkit/usb_controllers/usb-controllers'
JOB
rm -f "$work/guest-status"
# A guest that hangs is stopped long after any run would have ended.
timeout 180 "$kernel" mem=384M rootfstype=hostfs rootflags=/ rw quiet init="$root/tests/uml/guest-init.sh" \
  dummy_hcd.num="$units" PORTPROBE_JOB="$work/job" con=null con0=null,fd:1 </dev/null >"$work/kernel.log" 2>&1 || true
status=$(cat "$work/guest-status" 2>/dev/null || echo "the guest ended without a word (kernel.log)")
[ "$status" = "done" ] || { echo "run-in-guest.sh: $status" >&2; tail -20 "$work/kernel.log" >&2; exit 1; }
