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
    # A run that needs threads of its own (KESTRUM_NEEDS_THREADS names its
    # tests) cannot run under emulation, where a program keeps to one
    # thread: a skipped test to ctest, with the reason.
    if [ -n "${KESTRUM_NEEDS_THREADS:-}" ] && [ "${WINE_MODE:-}" = emu ]; then
      echo "skipped: $KESTRUM_NEEDS_THREADS: under qemu's emulation a program keeps to one thread, so the flushes run on the window's thread, and this test needs them on their own"
      exit 77
    fi
    wine_step "first start of $(basename "$1")" 90 wine "$1" --gtest_list_tests >/dev/null ||
      exit 1
    # Under emulation a program that crashes can still end with exit code 0:
    # without GoogleTest's closing summary, the run failed. There qemu 7.2
    # itself crashes now and then a process that has a second thread (the
    # window tests send from one): measured, the same window tests crashed
    # in 1 to 3 runs of 12 before and after a change. So a run that crashed
    # under emulation is run again, twice at most; a test that failed is
    # never run again, nor is a crash anywhere else.
    tries=1
    [ "${WINE_MODE:-}" = emu ] && tries=3
    out=$(mktemp)
    for ((try = 1; try <= tries; try++)); do
      wine "$@" 2>&1 | tee "$out"
      rc=${PIPESTATUS[0]}
      grep -qE '^\[==========\] .* ran\.' "$out" && break
      echo "$(basename "$1") ended without GoogleTest's summary: it crashed"
      rc=1
      [ "$try" -lt "$tries" ] && echo "crashed under emulation: running $(basename "$1") again"
    done
    rm -f "$out"
    exit "$rc" ;;
esac
exec wine "$@"
