#!/bin/sh
# Replays every file under the given directories through a fuzz target's
# plain build: the seed corpus and the inputs that once crashed it.
set -eu
binary="$1"; shift
files=$(find "$@" -type f ! -name '.*' 2>/dev/null | sort)
[ -n "$files" ] || { echo "no inputs under $*"; exit 1; }
# shellcheck disable=SC2086
exec "$binary" $files
