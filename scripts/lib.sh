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

build_windows() {
  cmake -S "$KESTRUM_ROOT" -B "$BUILD/win" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$KESTRUM_ROOT/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$BUILD/win" -j "$JOBS"
}

build_native() {
  cmake -S "$KESTRUM_ROOT" -B "$BUILD/native" -DCMAKE_BUILD_TYPE=Debug \
    -DKESTRUM_SANITIZE=ON >/dev/null
  cmake --build "$BUILD/native" -j "$JOBS"
}

# Creates the prefix once; must run with an X display (it draws nothing,
# but Wine's start-up wants one).
ensure_prefix() {
  if [ -f "$WINEPREFIX/.kestrum-ready" ]; then return 0; fi
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  echo "Creating the Wine prefix in $WINEPREFIX ..."
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Without a window manager Wine waits about 2 s on every message box
  # unless its windows are unmanaged.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.kestrum-ready"
}

build_fuzz() {
  cmake -S "$KESTRUM_ROOT" -B "$BUILD/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTRUM_FUZZ=ON -DKESTRUM_SANITIZE=ON -DKESTRUM_TESTS=OFF >/dev/null
  cmake --build "$BUILD/fuzz" -j "$JOBS"
}
