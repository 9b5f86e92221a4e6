#!/bin/sh
# Builds the tests' user-mode Linux kernel (ARCH=um: a kernel that runs as
# an ordinary process) from Debian's linux-source-6.1 and kernel.config
# beside this script, once per machine: the kernel is kept in a cache keyed
# by what it is built from (the source package's version, the configuration
# fragment, this script), and built again only when one of them changes.
# Prints the kernel's path. Fails loudly when it cannot be built, or when the
# configuration lost an option it asks for.
# usage: tests/uml/build-kernel.sh
#   PORTPROBE_UML_CACHE: the cache (default /var/cache/portprobe-uml for
#   root, else ~/.cache/portprobe-uml)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -eq 0 ]; then
  cache="${PORTPROBE_UML_CACHE:-/var/cache/portprobe-uml}"
else
  cache="${PORTPROBE_UML_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/portprobe-uml}"
fi
tarball=/usr/src/linux-source-6.1.tar.xz
[ -e "$tarball" ] || { echo "build-kernel.sh: $tarball missing (apt-get install linux-source-6.1)" >&2; exit 1; }
version=$(dpkg-query -W -f='${Version}' linux-source-6.1)
key=$( (echo "$version"; cat "$here/kernel.config" "$0") | sha256sum | cut -c1-16)
kernel="$cache/$key/linux"
if [ -x "$kernel" ]; then
  echo "$kernel"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "build-kernel.sh: building the user-mode kernel ($version, key $key) in $work" >&2
tar xJf "$tarball" -C "$work"
src="$work/linux-source-6.1"
# sound/Kconfig keeps ALSA out of user-mode kernels with one condition; the
# sequencer and USB MIDI need nothing a user-mode kernel lacks.
grep -q '^if !UML$' "$src/sound/Kconfig" || { echo "build-kernel.sh: sound/Kconfig changed shape" >&2; exit 1; }
sed -i 's/^if !UML$/if y/' "$src/sound/Kconfig"
make -s -C "$src" ARCH=um defconfig >&2
"$src/scripts/kconfig/merge_config.sh" -m -O "$src" "$src/.config" "$here/kernel.config" >&2
make -s -C "$src" ARCH=um olddefconfig >&2
missing=""
for setting in $(grep '^CONFIG_' "$here/kernel.config"); do
  grep -qx "$setting" "$src/.config" || missing="$missing $setting"
done
[ -z "$missing" ] || { echo "build-kernel.sh: the configuration lost:$missing" >&2; exit 1; }
make -s -C "$src" ARCH=um -j"$(nproc)" linux >&2
mkdir -p "$cache/$key"
cp "$src/linux" "$kernel.new"
mv "$kernel.new" "$kernel"
echo "$kernel"
