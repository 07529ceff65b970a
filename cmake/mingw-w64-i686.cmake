# Cross-builds the 32-bit Windows program with Debian's mingw-w64 (i686, posix threads):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# This is the quenbrook.exe handed out: like the game, it runs on 32- and 64-bit Windows.
# Everything links statically so it needs only the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUENBROOK_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QUENBROOK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENBROOK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENBROOK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUENBROOK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The tests run under wine32 on the build machine.
find_program(QUENBROOK_WINE NAMES wine)
if(QUENBROOK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENBROOK_WINE})
endif()
