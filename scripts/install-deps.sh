#!/bin/sh
# Installs what building and testing Portprobe needs on Debian 12.
set -eu
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  librtmidi-dev jackd2 xvfb xclip g++-mingw-w64-x86-64-posix wine zip clang-format clang-tidy python3
  emscripten nodejs chromium linux-source-6.1 flex bison bc alsa-utils"
missing=""
for package in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  # jackd2 asks whether to allow real-time scheduling; the default (no) is right here.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
fi
# What the reader's mail tests write flowed mails with (libmime), from npm,
# at the version its lock file names.
root=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -e "$root/build/npm/node_modules/libmime/package.json" ]; then
  mkdir -p "$root/build/npm"
  cp "$root/tests/tools/mail/package.json" "$root/tests/tools/mail/package-lock.json" "$root/build/npm/"
  (cd "$root/build/npm" && npm ci --no-audit --no-fund --loglevel=error)
fi
