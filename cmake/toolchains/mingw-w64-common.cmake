# Shared part of the MinGW-w64 toolchain files: Debian's gcc-mingw-w64 compilers with POSIX
# threads (the standard library's threads need them; the win32-thread compilers of GCC 12
# have none), static linking so the programs run without the compiler's DLLs, and Wine to
# run what the build makes (the tests, under CTest).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(MUSICDISK_WINE NAMES wine wine64 wine-stable)
if(MUSICDISK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MUSICDISK_WINE})
endif()
