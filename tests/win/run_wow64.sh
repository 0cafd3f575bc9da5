#!/usr/bin/env bash
# Runs the given 32-bit test program in a 64-bit Wine prefix (made once in
# the build folder, answering as XP x64, one of the 64-bit systems with a
# dllcache folder), with files seeded in both the real and the 32-bit
# system folders after the prefix's server is up: Wine empties dllcache
# when its server starts.
set -euo pipefail
exe=$(realpath "$1")
export WINEPREFIX=$(realpath -m "$2") WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. "$(dirname "$0")/../../scripts/wine_steps.sh"
ensure_prefix_at winxp64 "$WINEPREFIX.log" >/dev/null
start_server
win="$WINEPREFIX/drive_c/windows"
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
