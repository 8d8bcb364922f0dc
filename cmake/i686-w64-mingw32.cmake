# 32-bit Windows (the real target) with Debian's MinGW-w64
# (g++-mingw-w64-i686); see mingw-w64.cmake beside this file.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VAQ_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
