# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain, posix-threads variant
# (packages g++-mingw-w64-x86-64-posix and binutils-mingw-w64-x86-64):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Programs built for the target (tests, test discovery) run under wine, found on PATH.
# scripts/test-windows.sh does everything, dependencies and the wine prefix included.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSARO_MINGW_TRIPLET x86_64-w64-mingw32)
# The -posix compilers use winpthreads for std::thread and friends; the -win32 ones have none.
set(CMAKE_C_COMPILER ${TESSARO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSARO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSARO_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${TESSARO_MINGW_TRIPLET}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${TESSARO_MINGW_TRIPLET}-ranlib CACHE FILEPATH "Ranlib")

# Libraries, headers and package files come from the MinGW sysroot and from any prefix given in
# CMAKE_FIND_ROOT_PATH or CMAKE_PREFIX_PATH (the dependency prefix); programs from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TESSARO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest, try_run and gtest_discover_tests run target programs through wine. Its environment
# (WINEPREFIX, WINEDEBUG, LANG) is the caller's.
find_program(TESSARO_WINE NAMES wine wine64)
if(TESSARO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TESSARO_WINE}")
endif()
