# Shared by scripts/run and scripts/test: the two builds and the Wine prefix.
# Sourced, not run.

KESTRUM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$KESTRUM_ROOT/build"
JOBS=$(nproc 2>/dev/null || echo 2)

# Wine: a 32-bit Windows in Chinese (code page 936), kept inside the build
# folder, never the user's own ~/.wine.
export WINEPREFIX="$BUILD/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8

# The program and its benchmark, with the compiler whose C++ runtime runs on
# Windows 2000 (build/win/Kestrum.exe).
build_windows() {
  cmake -S "$KESTRUM_ROOT" -B "$BUILD/win" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$KESTRUM_ROOT/cmake/mingw-i686.cmake" \
    -DKESTRUM_THREAD_MODEL=win32 -DKESTRUM_TESTS=OFF >/dev/null
  cmake --build "$BUILD/win" -j "$JOBS"
}

# The Windows tests, with the compiler that has std::mutex for GoogleTest;
# the end-to-end and executable checks work on the program built above.
build_windows_tests() {
  cmake -S "$KESTRUM_ROOT" -B "$BUILD/win-tests" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$KESTRUM_ROOT/cmake/mingw-i686.cmake" \
    -DKESTRUM_THREAD_MODEL=posix -DKESTRUM_EXE_UNDER_TEST="$BUILD/win/Kestrum.exe" >/dev/null
  cmake --build "$BUILD/win-tests" -j "$JOBS"
}

build_native() {
  cmake -S "$KESTRUM_ROOT" -B "$BUILD/native" -DCMAKE_BUILD_TYPE=Debug \
    -DKESTRUM_SANITIZE=ON >/dev/null
  cmake --build "$BUILD/native" -j "$JOBS"
}

# Creates the prefix once; must run with an X display (it draws nothing,
# but Wine's start-up wants one).
ensure_prefix() {
  if [ -f "$WINEPREFIX/.kestrum-ready-xp" ]; then return 0; fi
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  echo "Creating the Wine prefix in $WINEPREFIX ..."
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Without a window manager Wine waits about 2 s on every message box
  # unless its windows are unmanaged.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # Like the systems that have a dllcache folder: Chinese XP answers version
  # 5.1, and its SimSun has 12-13 px lines at 9 pt where WenQuanYi Micro Hei
  # has 16 (the advertisement's last line would not fit). AR PL UMing is a
  # Song face of SimSun's height.
  wine reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1
  for face in SimSun 宋体 NSimSun 新宋体 'MS Shell Dlg' 'MS Shell Dlg 2'; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'AR PL UMing CN' /f \
      >/dev/null 2>&1
  done
  wineserver -w
  touch "$WINEPREFIX/.kestrum-ready-xp"
}

build_fuzz() {
  cmake -S "$KESTRUM_ROOT" -B "$BUILD/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTRUM_FUZZ=ON -DKESTRUM_SANITIZE=ON -DKESTRUM_TESTS=OFF >/dev/null
  cmake --build "$BUILD/fuzz" -j "$JOBS"
}
