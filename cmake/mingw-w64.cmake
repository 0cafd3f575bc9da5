# Cross-compiles Kestrum for Windows with MinGW-w64 and runs the Windows
# test programs under Wine. Included by mingw-i686.cmake (the program that
# ships) and mingw-x86_64.cmake (the same sources built for 64-bit Windows,
# for machines whose Wine can run only 64-bit programs).
#
# KESTRUM_THREAD_MODEL picks the compiler variant:
#   win32 (default): the program. Its static C++ runtime uses Win32 threads
#     directly, so nothing newer than Windows 2000 is imported.
#   posix: the test programs. GoogleTest needs std::mutex, which this
#     variant has through winpthreads (which imports Vista-only calls).
# KESTRUM_WINE names what runs the test programs (the test scripts give
# tests/win/first_start.sh; default: the `wine` on the PATH).
set(CMAKE_SYSTEM_NAME Windows)

if(NOT KESTRUM_THREAD_MODEL)
  set(KESTRUM_THREAD_MODEL win32)
endif()
# Try-compiles read this file again and must pick the same compiler.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRUM_THREAD_MODEL)

set(_kestrum_triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${_kestrum_triplet}-gcc-${KESTRUM_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${_kestrum_triplet}-g++-${KESTRUM_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${_kestrum_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_kestrum_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(KESTRUM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRUM_WINE})
else()
  find_program(WINE_PROGRAM wine)
  if(WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
  endif()
endif()
