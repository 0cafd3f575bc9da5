#!/usr/bin/env bash
# Runs the given 32-bit test program in a 64-bit Wine prefix (made once in
# the build folder), with files seeded in both the real and the 32-bit
# system folders after the prefix's server is up: Wine empties dllcache
# when its server starts.
set -euo pipefail
exe=$(realpath "$1")
prefix=$(realpath -m "$2")
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.kestrum-ready-xp64" ]; then
  rm -rf "$prefix"
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Answers as XP x64, one of the 64-bit systems with a dllcache folder.
  wine reg add 'HKCU\Software\Wine' /v Version /d winxp64 /f >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.kestrum-ready-xp64"
fi
wineserver -p
wine cmd /c exit >/dev/null 2>&1 || true
win="$prefix/drive_c/windows"
mkdir -p "$win/system32/dllcache" "$win/syswow64/dllcache"
echo real > "$win/system32/kestrum-real64.dll"
echo real > "$win/system32/dllcache/kestrum-real64.dll"
echo wow > "$win/syswow64/dllcache/kestrum-wow32.dll"
rc=0
wine "$exe" || rc=$?
rm -f "$win/system32/kestrum-real64.dll" "$win/system32/dllcache/kestrum-real64.dll" \
      "$win/syswow64/dllcache/kestrum-wow32.dll" "$win/system32/dllcache/kestrum-copied.dll"
wineserver -k || true
exit $rc
