# The Windows ZIP (CPack), included by cmake/Packaging.cmake in the Windows build:
#
#   cmake --build build-windows --target package     build-windows/tessaro-<version>-win64.zip
#
#   tessaro-<version>-win64/
#     tessaro.exe
#     README.txt          how to unzip and run it, in Chinese and English
#     LICENSE.txt         tessaro's licence
#     licenses/PACKAGE/copyright.txt
#                         the copyright and licence notices of every library linked into
#                         tessaro.exe, from the Debian source packages it was built from
#
# The text files are UTF-8 with a byte order mark and CR LF line ends, which Notepad shows as
# they are.

set(TESSARO_WINDOWS_STAGE "${PROJECT_BINARY_DIR}/windows/package")

configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in"
               "${TESSARO_WINDOWS_STAGE}/README.txt" @ONLY NEWLINE_STYLE CRLF)
install(FILES "${TESSARO_WINDOWS_STAGE}/README.txt" DESTINATION .)

# Copies a UTF-8 text file for Notepad: a byte order mark first, CR LF line ends, byte for byte
# otherwise.
string(ASCII 239 187 191 TESSARO_UTF8_BOM)
function(tessaro_notepad_copy from to)
  file(READ "${from}" text)
  string(REGEX REPLACE "^${TESSARO_UTF8_BOM}" "" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${to}" "${TESSARO_UTF8_BOM}${text}")
  set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${from}")
endfunction()

tessaro_notepad_copy("${PROJECT_SOURCE_DIR}/LICENSE" "${TESSARO_WINDOWS_STAGE}/LICENSE.txt")
install(FILES "${TESSARO_WINDOWS_STAGE}/LICENSE.txt" DESTINATION .)

# scripts/windows-deps.sh collects each source package's debian/copyright into the prefix, and
# those of the MinGW-w64 runtime (libstdc++, libgcc, winpthreads, the C runtime's startup code).
# GoogleTest is linked into the tests only.
file(GLOB TESSARO_WINDOWS_LICENSES LIST_DIRECTORIES true
     "${TESSARO_WINDOWS_DEPS}/share/licenses/*")
set(TESSARO_WINDOWS_LICENSE_PACKAGES)
foreach(dir IN LISTS TESSARO_WINDOWS_LICENSES)
  get_filename_component(package "${dir}" NAME)
  if(package STREQUAL "googletest" OR NOT EXISTS "${dir}/copyright")
    continue()
  endif()
  tessaro_notepad_copy("${dir}/copyright" "${TESSARO_WINDOWS_STAGE}/licenses/${package}/copyright.txt")
  install(FILES "${TESSARO_WINDOWS_STAGE}/licenses/${package}/copyright.txt"
          DESTINATION "licenses/${package}")
  list(APPEND TESSARO_WINDOWS_LICENSE_PACKAGES "${package}")
endforeach()
foreach(package tiff libjpeg-turbo zlib xz-utils libzstd libwebp libdeflate jbigkit lerc
                gcc-mingw-w64 mingw-w64)
  if(NOT package IN_LIST TESSARO_WINDOWS_LICENSE_PACKAGES)
    message(FATAL_ERROR "No copyright notices of ${package} in ${TESSARO_WINDOWS_DEPS}/share/licenses: "
                        "run scripts/windows-deps.sh ${PROJECT_BINARY_DIR} again")
  endif()
endforeach()

set(CPACK_GENERATOR "ZIP")
set(CPACK_PACKAGE_NAME "tessaro")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "tessaro developers")
set(CPACK_PACKAGE_CONTACT "tessaro developers <tessaro@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join TIFF tiles into 24-bit BMP mosaics")
set(CPACK_PACKAGE_FILE_NAME "tessaro-${PROJECT_VERSION}-win64")
# Everything inside one folder named like the ZIP, which "Extract All" creates anyway.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# tessaro.exe without its debug information (the RelWithDebInfo build carries it).
set(CPACK_STRIP_FILES ON)
include(CPack)
