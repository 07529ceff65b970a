# Cross-builds a 64-bit Windows program with Debian's mingw-w64 (x86_64, posix threads).
# The program handed out is the 32-bit one (mingw-w64-i686.cmake); this stays for checks:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Everything links statically so quenbrook.exe needs only the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUENBROOK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUENBROOK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENBROOK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENBROOK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUENBROOK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The tests run under Wine on the build machine.
find_program(QUENBROOK_WINE NAMES wine64 wine)
if(QUENBROOK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENBROOK_WINE})
endif()
