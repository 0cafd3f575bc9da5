# 64-bit Windows: the same sources, tested where Wine runs only 64-bit
# programs (see mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
