# Cross-builds a 64-bit Windows program with Debian's mingw-w64 (x86_64, posix threads).
# The program handed out is the 32-bit one (mingw-w64-i686.cmake); this stays for checks:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUENBROOK_MINGW_TRIPLE x86_64-w64-mingw32)
set(QUENBROOK_WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
