#!/bin/sh
# The first process of the tests' user-mode kernel (its init=): mounts what
# the guest needs, plugs the scene's units in (usb-controllers), runs the
# real portprobe against them over the kernel's ALSA sequencer, keeps what
# the run left in the job's directory, and powers the guest off. The guest's
# root is the host's own file system (hostfs), so the programs are the
# host's and the directory is the host's too. Its job comes from the kernel
# command line (PORTPROBE_JOB=FILE, a file of shell assignments: SCENE,
# UNITS, WORK, PORTPROBE, CONTROLLERS).
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
# The guest's own devices (its sound devices among them) are over the
# host's already: the kernel mounts its devtmpfs itself.
mount -t configfs configfs /sys/kernel/config
mount -t tmpfs tmpfs /run
mkdir -p /dev/shm
mount -t tmpfs tmpfs /dev/shm

finish() {
  echo "$1" >"$WORK/guest-status"
  sync
  echo o >/proc/sysrq-trigger
  sleep 60
}

. "$PORTPROBE_JOB" || finish "no job"
cd "$WORK" || finish "no work directory"
mkdir -p wire
"$CONTROLLERS" "$SCENE" "$WORK/wire" 2>controllers.log &
controllers=$!
# The units are plugged in within tens of milliseconds; the deadline is
# for a machine far slower.
waited=0
while [ ! -e wire/ready ]; do
  kill -0 "$controllers" 2>/dev/null || finish "usb-controllers ended: $(cat controllers.log)"
  [ "$waited" -lt 3000 ] || finish "the units were not plugged in within 30 s"
  sleep 0.01
  waited=$((waited + 1))
done
# The kernel's USB side names each unit after its gadget is bound, as it
# does a unit plugged in; the tool is run, as a user runs it, once every
# unit is there: its card and its client in the sequencer.
waited=0
while [ "$(grep -c 'type=kernel,card=' /proc/asound/seq/clients 2>/dev/null || echo 0)" -lt "$((UNITS * 2))" ]; do
  [ "$waited" -lt 3000 ] || finish "the kernel did not name every unit within 30 s: $(cat /proc/asound/cards)"
  sleep 0.01
  waited=$((waited + 1))
done
cat /proc/asound/cards >cards.txt
aconnect -l >sequencer.txt 2>&1
# No display: the tool writes its report to portprobe-report.txt here.
env -u DISPLAY -u WAYLAND_DISPLAY "$PORTPROBE" >console.txt 2>stderr.txt &
tool=$!
# The units' own traffic begins once the tool has its ports open.
waited=0
while ! grep -q 'MIDI device found' console.txt 2>/dev/null && kill -0 "$tool" 2>/dev/null; do
  [ "$waited" -lt 3000 ] || break
  sleep 0.01
  waited=$((waited + 1))
done
kill -USR1 "$controllers"
wait "$tool"
echo "$?" >portprobe-status
kill -TERM "$controllers"
wait "$controllers"
finish "done"
