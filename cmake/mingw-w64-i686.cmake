# Cross-builds the 32-bit Windows program with Debian's mingw-w64 (i686, posix threads):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# This is the quenbrook.exe handed out: like the game, it runs on 32- and 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUENBROOK_MINGW_TRIPLE i686-w64-mingw32)
# Its tests run under wine32.
set(QUENBROOK_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
