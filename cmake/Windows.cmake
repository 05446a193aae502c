# The Windows build, cross-compiled on Debian with MinGW-w64 (cmake/mingw-w64-x86_64.cmake):
#
#   scripts/windows-deps.sh build-windows          static libtiff, codecs and GoogleTest
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-windows
#
# scripts/test-windows.sh does all of it and runs the tests under wine. Every program is linked
# fully static (libstdc++, libgcc and winpthreads included), so nothing but system DLLs has to be
# found beside it, under wine or on Windows.
#
# What this file provides to the rest of the build:
#   TIFF::TIFF             the static libtiff with all its codec libraries, in link order
#   PkgConfig::LIBTIFF     the same, under the name the Linux build's targets link to
#   GTest::gtest, GTest::gtest_main, GTest::gmock, GTest::gmock_main   through find_package(GTest)
#   tessaro_windows_manifest(TARGET)   embeds the application manifest (long paths, no code page
#                                      of its own) in a program
#   TESSARO_WINDOWS_DEPS   the dependency prefix (cache variable)

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR "The Windows build is made with MinGW-w64's g++: configure with "
                      "-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake")
endif()

set(TESSARO_WINDOWS_DEPS "${PROJECT_BINARY_DIR}/deps/prefix" CACHE PATH
    "Prefix holding the cross-built static libraries (made by scripts/windows-deps.sh)")
if(NOT EXISTS "${TESSARO_WINDOWS_DEPS}/include/tiffio.h")
  message(FATAL_ERROR "No libtiff in ${TESSARO_WINDOWS_DEPS}: run "
                      "scripts/windows-deps.sh ${PROJECT_BINARY_DIR} first, or set TESSARO_WINDOWS_DEPS")
endif()
# Searched before the MinGW sysroot, which the toolchain file names.
list(PREPEND CMAKE_FIND_ROOT_PATH "${TESSARO_WINDOWS_DEPS}")
list(PREPEND CMAKE_PREFIX_PATH "${TESSARO_WINDOWS_DEPS}")

# ---- libtiff and its codecs ------------------------------------------------------------------
# Static archives only, and only from the prefix: the sysroot's libz is not the one libtiff was
# built against.
find_path(TESSARO_TIFF_INCLUDE_DIR tiffio.h PATHS "${TESSARO_WINDOWS_DEPS}/include" NO_DEFAULT_PATH)
set(TESSARO_TIFF_LIBRARIES)
# libtiff first, then what it calls; none of the codec libraries calls another.
foreach(lib tiff webp zstd lzma jbig jpeg deflate Lerc z)
  string(TOUPPER "${lib}" upper)
  find_library(TESSARO_${upper}_LIBRARY NAMES "lib${lib}.a"
               PATHS "${TESSARO_WINDOWS_DEPS}/lib" NO_DEFAULT_PATH)
  if(NOT TESSARO_${upper}_LIBRARY)
    message(FATAL_ERROR "lib${lib}.a is missing from ${TESSARO_WINDOWS_DEPS}/lib: "
                        "run scripts/windows-deps.sh ${PROJECT_BINARY_DIR} again")
  endif()
  list(APPEND TESSARO_TIFF_LIBRARIES "${TESSARO_${upper}_LIBRARY}")
endforeach()
add_library(TIFF::TIFF INTERFACE IMPORTED)
target_include_directories(TIFF::TIFF INTERFACE "${TESSARO_TIFF_INCLUDE_DIR}")
# LERC's C++ runtime, for programs linked by the C driver.
target_link_libraries(TIFF::TIFF INTERFACE ${TESSARO_TIFF_LIBRARIES} stdc++)
add_library(PkgConfig::LIBTIFF INTERFACE IMPORTED)
target_link_libraries(PkgConfig::LIBTIFF INTERFACE TIFF::TIFF)
message(STATUS "libtiff for Windows: ${TESSARO_TIFF_LIBRARY} (+ codecs)")

# ---- how every program is linked -------------------------------------------------------------
# Fully static: no libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll to ship.
add_link_options(-static)
# Console programs (the Windows CUI subsystem), started with a console window of their own when
# double-clicked.
add_link_options(-mconsole)

# GoogleTest from the prefix. The tests are listed by running each test program under wine when
# ctest starts, not at build time, so building needs no wine prefix.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# ---- application manifest ---------------------------------------------------------------------
# Declares long path awareness (paths past MAX_PATH, where Windows has long paths enabled) and
# no activeCodePage: the program keeps the system's ANSI code page (936 on Chinese Windows), which
# its messages and the paths it prints are in.
enable_language(RC)
set(TESSARO_WINDOWS_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string(REPLACE "." "," TESSARO_WINDOWS_VERSION_COMMAS "${TESSARO_WINDOWS_VERSION}")
configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/tessaro.exe.manifest.in"
               "${PROJECT_BINARY_DIR}/windows/tessaro.exe.manifest" @ONLY)

function(tessaro_windows_manifest target)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(TESSARO_WINDOWS_FILE_NAME "${name}.exe")
  set(TESSARO_WINDOWS_MANIFEST "${PROJECT_BINARY_DIR}/windows/tessaro.exe.manifest")
  set(rc "${PROJECT_BINARY_DIR}/windows/${target}.rc")
  configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/resources.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
  set_property(SOURCE "${rc}" TARGET_DIRECTORY ${target}
               APPEND PROPERTY OBJECT_DEPENDS "${TESSARO_WINDOWS_MANIFEST}")
endfunction()
