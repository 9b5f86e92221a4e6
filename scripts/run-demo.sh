#!/bin/sh
# Installs the build tools, builds Portprobe and runs portprobe-demo: the
# tool's five-second run over virtual controllers, no MIDI hardware needed.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target portprobe-demo
exec build/default/portprobe-demo
