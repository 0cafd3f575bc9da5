# Shared by scripts/run and scripts/test: the builds, the Wine mode and the
# Wine prefix. Sourced, not run.

KESTRUM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$KESTRUM_ROOT/build"
JOBS=$(nproc 2>/dev/null || echo 2)

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
. "$KESTRUM_ROOT/scripts/wine_steps.sh"
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8

# Which Windows programs the Windows tests and scripts/run run, and how:
#   32:  the shipped 32-bit Kestrum.exe and the 32-bit test programs in a
#        32-bit prefix answering as Chinese XP, plus the WOW64 runs in a
#        64-bit prefix. Where the kernel runs 32-bit code.
#   emu: the same 32-bit programs, with Wine's 32-bit loader under qemu-i386
#        user emulation, for kernels that refuse 32-bit code. The prefix is
#        64-bit answering as XP x64: there Wine's own processes run natively
#        and only the programs under test are emulated (in a 32-bit prefix
#        Wine's own explorer and services crashed under emulation).
#   64:  the same sources built for x86-64, in a 64-bit prefix answering as
#        Chinese XP x64.
# KESTRUM_WINE_ARCH=32, emu or 64 chooses instead of the probe. Sets and
# exports WINE_MODE, WINE_MODE_WHY, WINEPREFIX, WINEARCH, WIN_BUILD,
# WIN_TESTS, PREFIX_VERSION and, in modes emu and 64, a PATH whose `wine`
# picks the right loader.
choose_wine_mode() {
  case "${KESTRUM_WINE_ARCH:-}" in
    32 | emu | 64)
      WINE_MODE=$KESTRUM_WINE_ARCH
      WINE_MODE_WHY="KESTRUM_WINE_ARCH=$KESTRUM_WINE_ARCH" ;;
    "")
      if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        WINE_MODE=32 WINE_MODE_WHY="this machine runs 32-bit code"
      else
        WINE_MODE=emu WINE_MODE_WHY="this machine cannot run 32-bit code"
      fi ;;
    *)
      echo "KESTRUM_WINE_ARCH must be 32, emu or 64, not '$KESTRUM_WINE_ARCH'" >&2
      return 1 ;;
  esac
  WIN_BUILD="$BUILD/win" WIN_TESTS="$BUILD/win-tests" TOOLCHAIN=mingw-i686
  PREFIX_VERSION=winxp
  case $WINE_MODE in
    32)
      export WINEPREFIX="$BUILD/wineprefix" WINEARCH=win32 ;;
    emu)
      prepare_emulation || return 1
      # qemu 7.2 corrupts a thread's registers at random while another
      # thread of the process runs (measured: a register that GetTickCount
      # must keep came back changed): the program keeps its flushes on the
      # window's thread here.
      export KESTRUM_FLUSH_ON_WINDOW_THREAD=1
      export WINEPREFIX="$BUILD/wineprefix-emu" WINEARCH=win64
      export WINESERVER=/usr/lib/wine/wineserver64
      PREFIX_VERSION=winxp64 ;;
    64)
      export WINEPREFIX="$BUILD/wineprefix-win64" WINEARCH=win64
      export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
      # Debian's wine (and wineboot through it) picks the 32-bit loader
      # whenever wine32 is installed, even where it cannot run.
      wrap_wine "$BUILD/wine64-bin" 'exec /usr/lib/wine/wine64 "$@"'
      WIN_BUILD="$BUILD/win64" WIN_TESTS="$BUILD/win64-tests" TOOLCHAIN=mingw-x86_64
      PREFIX_VERSION=winxp64 ;;
  esac
  export WINE_MODE WINE_MODE_WHY WIN_BUILD WIN_TESTS TOOLCHAIN PREFIX_VERSION
}

# `wine` and `wine-stable` (which Debian's wineboot calls) in BIN, running
# the shell code BODY, first on the PATH.
wrap_wine() { # BIN BODY
  local bin=$1 name
  mkdir -p "$bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\n%s\n' "$2" > "$bin/$name"
    chmod +x "$bin/$name"
  done
  case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
}

# Wine's 32-bit loader under qemu-i386, in build/emu, made anew each time:
# - lib/wine holds copies of both loaders, because Debian's Wine looks for
#   the other bitness's loader beside its own binary, by name ("wine" <->
#   "wine64"), and ignores WINELOADER. Its `wine` is a script that runs the
#   32-bit copy under qemu; the 64-bit loader starts 32-bit programs
#   through it.
# - lib/*-linux-gnu and share/wine link to the real ones, so that the
#   copies find their DLLs and data at the usual relative places.
# - preload/ holds the fixes for qemu's faults (scripts/emulation), with a
#   no-op 64-bit twin for the native processes that inherit LD_PRELOAD.
# - bin/ holds the `wine` that scripts and tests call: the 64-bit loader
#   in a 64-bit prefix, else the emulated one.
# Nothing outside build/ changes: no binfmt_misc, nothing under /usr.
prepare_emulation() {
  local emu="$BUILD/emu"
  local dir="$emu/lib/wine" pre="$emu/preload/lib" src="$KESTRUM_ROOT/scripts/emulation/qemu_fixes.c"
  mkdir -p "$dir" "$pre/i386-linux-gnu" "$pre/x86_64-linux-gnu" "$emu/share"
  local so32="$pre/i386-linux-gnu/kestrum-qemu-fixes.so" so64="$pre/x86_64-linux-gnu/kestrum-qemu-fixes.so"
  if [ ! "$so32" -nt "$src" ] || [ ! "$so64" -nt "$src" ]; then
    if ! gcc -m32 -shared -fPIC -O2 -o "$so32" "$src" -ldl ||
       ! gcc -shared -fPIC -O2 -o "$so64" "$src"; then
      echo "the qemu fixes (scripts/emulation/qemu_fixes.c) did not build" >&2
      return 1
    fi
  fi
  # Copied only when changed: a running loader cannot be overwritten.
  cmp -s /usr/lib/wine/wine "$dir/wine32.elf" || cp /usr/lib/wine/wine "$dir/wine32.elf" || return 1
  cmp -s /usr/lib/wine/wine64 "$dir/wine64" || cp /usr/lib/wine/wine64 "$dir/wine64" || return 1
  ln -sfn /usr/lib/i386-linux-gnu "$emu/lib/i386-linux-gnu"
  ln -sfn /usr/lib/x86_64-linux-gnu "$emu/lib/x86_64-linux-gnu"
  ln -sfn /usr/share/wine "$emu/share/wine"
  # WINELOADERNOEXEC: no re-exec through a preloader, which qemu cannot run.
  cat > "$dir/wine" <<EOF
#!/bin/sh
export WINELOADERNOEXEC=1 LD_PRELOAD='$emu/preload/\$LIB/kestrum-qemu-fixes.so'
exec qemu-i386-static -0 "$dir/wine" "$dir/wine32.elf" "\$@"
EOF
  chmod +x "$dir/wine"
  wrap_wine "$emu/bin" "if [ \"\${WINEARCH:-}\" = win64 ] || [ -d \"\${WINEPREFIX:-\$HOME/.wine}/drive_c/windows/syswow64\" ]; then exec \"$dir/wine64\" \"\$@\"; fi
exec \"$dir/wine\" \"\$@\""
}

# The one line that says which programs the Windows runs use, and why.
wine_mode_line() {
  case $WINE_MODE in
    32) echo "$1: 32-bit programs ($WINE_MODE_WHY)" ;;
    emu) echo "$1: 32-bit programs under emulation ($WINE_MODE_WHY)" ;;
    64) echo "$1: 64-bit build ($WINE_MODE_WHY)" ;;
  esac
}

configure_windows() { # BUILD_DIR TOOLCHAIN THREAD_MODEL [CMAKE ARGS...]
  local dir=$1 toolchain=$2 threads=$3
  shift 3
  cmake -S "$KESTRUM_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$KESTRUM_ROOT/cmake/$toolchain.cmake" \
    -DKESTRUM_THREAD_MODEL="$threads" -DKESTRUM_WINE="$KESTRUM_ROOT/tests/win/first_start.sh" \
    "$@" >/dev/null
}

# The program that ships and its benchmark, with the compiler whose C++
# runtime runs on Windows 2000 (build/win/Kestrum.exe). Built in either
# mode: the checks of the shipped file need no execution.
build_windows() {
  configure_windows "$BUILD/win" mingw-i686 win32 -DKESTRUM_TESTS=OFF
  cmake --build "$BUILD/win" -j "$JOBS"
}

# The same program built for x86-64 (build/win64): compiled in every mode,
# with warnings as errors, so that pointer-size mistakes show; run in
# mode 64.
build_windows64() {
  configure_windows "$BUILD/win64" mingw-x86_64 win32 -DKESTRUM_TESTS=OFF
  cmake --build "$BUILD/win64" -j "$JOBS"
}

# The Windows tests, with the compiler that has std::mutex for GoogleTest;
# the end-to-end test runs the program of this mode, the executable checks
# read the one that ships.
build_windows_tests() {
  configure_windows "$WIN_TESTS" "$TOOLCHAIN" posix \
    -DKESTRUM_EXE_UNDER_TEST="$WIN_BUILD/Kestrum.exe" \
    -DKESTRUM_SHIPPED_EXE="$BUILD/win/Kestrum.exe"
  cmake --build "$WIN_TESTS" -j "$JOBS"
}

build_native() {
  cmake -S "$KESTRUM_ROOT" -B "$BUILD/native" -DCMAKE_BUILD_TYPE=Debug \
    -DKESTRUM_SANITIZE=ON >/dev/null
  cmake --build "$BUILD/native" -j "$JOBS"
}

build_fuzz() {
  cmake -S "$KESTRUM_ROOT" -B "$BUILD/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTRUM_FUZZ=ON -DKESTRUM_SANITIZE=ON -DKESTRUM_TESTS=OFF >/dev/null
  cmake --build "$BUILD/fuzz" -j "$JOBS"
}

# Creates the prefix of this mode once; must run with an X display (it
# draws nothing, but Wine's start-up wants one). On failure prints why and
# returns non-zero.
ensure_prefix() {
  ensure_prefix_at "$PREFIX_VERSION" "$BUILD/wineboot-$WINE_MODE.log"
}
