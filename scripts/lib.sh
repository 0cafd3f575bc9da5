# Shared by scripts/run and scripts/test: the builds, the Wine mode and the
# Wine prefix. Sourced, not run.

KESTRUM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$KESTRUM_ROOT/build"
JOBS=$(nproc 2>/dev/null || echo 2)

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8

# Which Windows programs Wine can run here, and so which build the Windows
# tests and scripts/run use:
#   32: the shipped 32-bit Kestrum.exe in a 32-bit prefix answering as
#       Chinese XP, plus the WOW64 runs in a 64-bit prefix;
#   64: the same sources built for x86-64, in a 64-bit prefix answering as
#       Chinese XP x64. For kernels that refuse 32-bit programs, where
#       Wine's 32-bit loader cannot start.
# KESTRUM_WINE_ARCH=64 (or 32) chooses instead of the probe. Sets and
# exports WINE_MODE, WINE_MODE_WHY, WINEPREFIX, WINEARCH, WIN_BUILD,
# WIN_TESTS and, in 64-bit mode, a PATH whose `wine` is the 64-bit loader.
choose_wine_mode() {
  case "${KESTRUM_WINE_ARCH:-}" in
    64 | 32)
      WINE_MODE=$KESTRUM_WINE_ARCH
      WINE_MODE_WHY="KESTRUM_WINE_ARCH=$KESTRUM_WINE_ARCH" ;;
    "")
      if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        WINE_MODE=32 WINE_MODE_WHY="this machine runs 32-bit programs"
      else
        WINE_MODE=64 WINE_MODE_WHY="this machine cannot run 32-bit programs"
      fi ;;
    *)
      echo "KESTRUM_WINE_ARCH must be 32 or 64, not '$KESTRUM_WINE_ARCH'" >&2
      return 1 ;;
  esac
  if [ "$WINE_MODE" = 64 ]; then
    export WINEPREFIX="$BUILD/wineprefix-win64" WINEARCH=win64
    export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
    # Debian's wine (and wineboot through it) picks the 32-bit loader
    # whenever wine32 is installed, even where it cannot run.
    local bin="$BUILD/wine64-bin"
    mkdir -p "$bin"
    for name in wine wine-stable; do
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$bin/$name"
      chmod +x "$bin/$name"
    done
    case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
    WIN_BUILD="$BUILD/win64" WIN_TESTS="$BUILD/win64-tests" TOOLCHAIN=mingw-x86_64
  else
    export WINEPREFIX="$BUILD/wineprefix" WINEARCH=win32
    WIN_BUILD="$BUILD/win" WIN_TESTS="$BUILD/win-tests" TOOLCHAIN=mingw-i686
  fi
  export WINE_MODE WINE_MODE_WHY WIN_BUILD WIN_TESTS TOOLCHAIN
}

# The one line that says which build the Windows runs use, and why.
wine_mode_line() {
  echo "$1: $WINE_MODE-bit build ($WINE_MODE_WHY)"
}

configure_windows() { # BUILD_DIR TOOLCHAIN THREAD_MODEL [CMAKE ARGS...]
  local dir=$1 toolchain=$2 threads=$3
  shift 3
  cmake -S "$KESTRUM_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$KESTRUM_ROOT/cmake/$toolchain.cmake" \
    -DKESTRUM_THREAD_MODEL="$threads" -DKESTRUM_WINE="$(command -v wine || true)" "$@" >/dev/null
}

# The program that ships and its benchmark, with the compiler whose C++
# runtime runs on Windows 2000 (build/win/Kestrum.exe). Built in either
# mode: the checks of the shipped file need no execution.
build_windows() {
  configure_windows "$BUILD/win" mingw-i686 win32 -DKESTRUM_TESTS=OFF
  cmake --build "$BUILD/win" -j "$JOBS"
}

# In 64-bit mode, the same program built for x86-64 (build/win64).
build_windows_run() {
  if [ "$WINE_MODE" = 64 ]; then
    configure_windows "$WIN_BUILD" "$TOOLCHAIN" win32 -DKESTRUM_TESTS=OFF
    cmake --build "$WIN_BUILD" -j "$JOBS"
  fi
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
  local ready="$WINEPREFIX/.kestrum-ready-xp"
  if [ -f "$ready" ]; then return 0; fi
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  echo "Creating the $WINEARCH Wine prefix in $WINEPREFIX ..."
  local log="$BUILD/wineboot-$WINE_MODE.log"
  if ! wineboot -i >"$log" 2>&1 || ! wineserver -w ||
     ! wine cmd /c exit >>"$log" 2>&1; then
    echo "the Wine prefix could not be made: $(grep -v '^$' "$log" | tail -n 1)"
    return 1
  fi
  # Without a window manager Wine waits about 2 s on every message box
  # unless its windows are unmanaged.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # Like the systems that have a dllcache folder: Chinese XP answers version
  # 5.1 (XP x64 5.2), and its SimSun has 12-13 px lines at 9 pt where
  # WenQuanYi Micro Hei has 16 (the advertisement's last line would not
  # fit). AR PL UMing is a Song face of SimSun's height.
  local version=winxp
  if [ "$WINEARCH" = win64 ]; then version=winxp64; fi
  wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null 2>&1
  for face in SimSun 宋体 NSimSun 新宋体 'MS Shell Dlg' 'MS Shell Dlg 2'; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'AR PL UMing CN' /f \
      >/dev/null 2>&1
  done
  wineserver -w
  touch "$ready"
}
