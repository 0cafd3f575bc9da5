#!/usr/bin/env bash
# Builds the data sets from the Linux side and runs the benchmark program.
#   bench/run.sh BENCH_EXE            full run, in a temporary prefix of
#                                     WINEARCH (default win32)
#   bench/run.sh BENCH_EXE --smoke    tiny data, in the current WINEPREFIX
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "$1")
mode=${2:-}
if [ "$mode" != "--smoke" ]; then
  export WINEPREFIX=$(mktemp -d /tmp/kestrum-bench.XXXXXX)
  export WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
  . "$here/../scripts/wine_steps.sh"
  # Wine's own Windows 7: the program takes its fast listing there.
  ensure_prefix_at win7 "$WINEPREFIX.log"
  start_server
fi
/usr/bin/python3 "$here/make_data.py" "$WINEPREFIX" $mode
wine "$exe" $mode
