#!/usr/bin/env bash
# Builds Kestrum.exe again from a copy of the same sources in another folder
# and compares it with the given build byte for byte: neither a link time
# stamp nor a build path may tell the two apart.
#   rebuild_same.sh SOURCE_DIR KESTRUM_EXE
set -euo pipefail
src=$(realpath "$1")
exe=$(realpath "$2")
work=$(mktemp -d /tmp/kestrum-rebuild.XXXXXX)
trap 'rm -rf "$work"' EXIT
copy="$work/another-checkout"
mkdir -p "$copy"
# The files git knows, tracked or new, as they stand in the work tree.
(cd "$src" && git ls-files -z --cached --others --exclude-standard |
  tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$copy"
cmake -S "$copy" -B "$copy/out" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-i686.cmake" \
  -DKESTRUM_THREAD_MODEL=win32 -DKESTRUM_TESTS=OFF >/dev/null
cmake --build "$copy/out" --target Kestrum -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
if ! cmp "$exe" "$copy/out/Kestrum.exe"; then
  echo "Kestrum.exe differs when built in $copy"
  exit 1
fi
echo "Kestrum.exe is the same byte for byte when built in another folder:"
sha256sum "$exe" | cut -d' ' -f1
