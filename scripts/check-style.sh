#!/bin/sh
# The style a machine keeps: clang-format over every C++ file, and
# clang-tidy (.clang-tidy) over what the default preset builds, plus the
# Windows-only sources and the Windows side of the shared ones from the
# MinGW preset's compile database. Exits non-zero on any finding.
set -eu
cd "$(dirname "$0")/.."
git ls-files '*.h' '*.cpp' | xargs clang-format-14 --dry-run --Werror
echo "clang-format: clean"

cmake --preset default >/dev/null
cmake --preset mingw >/dev/null
# Generated sources (none today) would need a build first; the compile
# databases are enough for the rest.
run-clang-tidy-14 -p build/default -quiet -j 2 "$(pwd)/(app|bench|handlers|midi|testkit|tests|tools)/" >/tmp/portprobe-tidy.log 2>&1 ||
  { sed 's/\x1b\[[0-9;]*m//g' /tmp/portprobe-tidy.log | grep -E -A3 "(warning|error): " | head -80; exit 1; }
echo "clang-tidy (default preset): clean"

# MinGW's own libstdc++ and headers; clang's builtin intrinsics headers
# rather than GCC's, which clang cannot parse.
gxx=/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++
windows=$(python3 - <<'PY'
import json
default = {e["file"] for e in json.load(open("build/default/compile_commands.json"))}
files = []
for entry in json.load(open("build/mingw/compile_commands.json")):
    path = entry["file"]
    if "/googletest/" in path or path.startswith("/usr/"):
        continue
    if path not in default or "_WIN32" in open(path, encoding="utf-8").read():
        files.append(path)
print(" ".join(sorted(set(files))))
PY
)
# shellcheck disable=SC2086
clang-tidy-14 -p build/mingw --quiet --extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-isystem"$gxx" \
  --extra-arg=-isystem"$gxx/x86_64-w64-mingw32" --extra-arg=-isystem"$gxx/backward" \
  --extra-arg=-isystem/usr/x86_64-w64-mingw32/include $windows >/tmp/portprobe-tidy-windows.log 2>&1 ||
  { sed 's/\x1b\[[0-9;]*m//g' /tmp/portprobe-tidy-windows.log | grep -E -A3 "(warning|error): " | head -80; exit 1; }
echo "clang-tidy (MinGW preset, Windows sources): clean"
