#!/usr/bin/env bash
# How ctest starts a Windows test program: through the `wine` of the mode.
# A GoogleTest program is first started only to list its tests, under a
# time limit and tried up to three times, so that a Wine start-up that
# hangs (seen under emulation) ends in a minute and names itself, not at
# the test's own limit of 15 minutes.
set -uo pipefail
. "$(dirname "$0")/../../scripts/wine_steps.sh"
case $1 in
  *_tests.exe)
    wine_step "first start of $(basename "$1")" 90 wine "$1" --gtest_list_tests >/dev/null ||
      exit 1
    # Under emulation a program that crashes can still end with exit code 0:
    # without GoogleTest's closing summary, the run failed.
    out=$(mktemp)
    wine "$@" 2>&1 | tee "$out"
    rc=${PIPESTATUS[0]}
    if [ "$rc" -eq 0 ] && ! grep -qE '^\[==========\] .* ran\.' "$out"; then
      echo "$(basename "$1") ended without GoogleTest's summary: it crashed"
      rc=1
    fi
    rm -f "$out"
    exit "$rc" ;;
esac
exec wine "$@"
