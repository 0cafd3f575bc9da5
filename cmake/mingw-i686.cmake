# Cross-compiles Kestrum for 32-bit Windows with MinGW-w64 and runs the
# Windows test programs under Wine.
#
# KESTRUM_THREAD_MODEL picks the compiler variant:
#   win32 (default): the program. Its static C++ runtime uses Win32 threads
#     directly, so nothing newer than Windows 2000 is imported.
#   posix: the test programs. GoogleTest needs std::mutex, which this
#     variant has through winpthreads (which imports Vista-only calls).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

if(NOT KESTRUM_THREAD_MODEL)
  set(KESTRUM_THREAD_MODEL win32)
endif()
# Try-compiles read this file again and must pick the same compiler.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRUM_THREAD_MODEL)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${KESTRUM_THREAD_MODEL})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${KESTRUM_THREAD_MODEL})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(WINE_PROGRAM wine)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
