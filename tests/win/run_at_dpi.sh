#!/usr/bin/env bash
# Runs a Windows test program with the test prefix set to another DPI,
# and sets the prefix back afterwards.
set -euo pipefail
exe="$1"
dpi="$2"
key='HKCU\Control Panel\Desktop'
trap 'wine reg delete "$key" /v LogPixels /f >/dev/null 2>&1 || true' EXIT
wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
KESTRUM_EXPECT_DPI="$dpi" wine "$exe"
