# Install rules for the manual pages and the Debian package (CPack).
#
#   cmake --install build --prefix /usr/local     bin/tessaro and the manual pages
#   cmake --build build --target package          build/tessaro_<version>_<arch>.deb
#
# The pages are kept as man/**/tessaro.1.in; the build fills in the version and, for the
# installed copies, compresses them as Debian does (gzip -9n, no name or time stamp inside).

include(GNUInstallDirs)

# The Windows build has no manual pages and makes a ZIP instead.
if(WIN32)
  include("${CMAKE_CURRENT_LIST_DIR}/WindowsPackaging.cmake")
  return()
endif()

# English page first; each entry is "source;installed subdirectory of share/man".
set(TESSARO_MAN_PAGES
    "man/tessaro.1.in|man1"
    "man/zh_CN/tessaro.1.in|zh_CN/man1")

find_program(TESSARO_GZIP gzip)
set(TESSARO_MAN_OUTPUTS)
set(TESSARO_MAN_PLAIN)
foreach(entry IN LISTS TESSARO_MAN_PAGES)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 source)
  list(GET entry 1 subdir)
  string(REGEX REPLACE "\\.in$" "" page "${source}")
  set(plain "${PROJECT_BINARY_DIR}/${page}")
  configure_file("${PROJECT_SOURCE_DIR}/${source}" "${plain}" @ONLY)
  list(APPEND TESSARO_MAN_PLAIN "${plain}")
  if(TESSARO_GZIP)
    # gzip works in place, so compress a copy kept apart from the plain page the tests read.
    set(staged "${PROJECT_BINARY_DIR}/man-gz/${subdir}/tessaro.1")
    add_custom_command(
      OUTPUT "${staged}.gz"
      COMMAND "${CMAKE_COMMAND}" -E copy "${plain}" "${staged}"
      COMMAND "${TESSARO_GZIP}" -9nf "${staged}"
      DEPENDS "${plain}"
      COMMENT "Compressing manual page ${page}"
      VERBATIM)
    list(APPEND TESSARO_MAN_OUTPUTS "${staged}.gz")
    install(FILES "${staged}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/${subdir}")
  else()
    install(FILES "${plain}" DESTINATION "${CMAKE_INSTALL_MANDIR}/${subdir}")
  endif()
endforeach()
if(TESSARO_MAN_OUTPUTS)
  add_custom_target(tessaro_man_pages ALL DEPENDS ${TESSARO_MAN_OUTPUTS})
endif()

# The manual pages must format without a single groff warning.
if(TESSARO_BUILD_TESTS)
  add_test(NAME man_pages_format_cleanly
           COMMAND sh "${PROJECT_SOURCE_DIR}/man/check-pages.sh" ${TESSARO_MAN_PLAIN})
  set_tests_properties(man_pages_format_cleanly PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endif()

# ---- Debian package -------------------------------------------------------------------------
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tessaro")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "tessaro developers")
set(CPACK_PACKAGE_CONTACT "tessaro developers <tessaro@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join TIFF tiles into 24-bit BMP mosaics")
# The DEB generator installs under /usr by itself; setting CPACK_PACKAGING_INSTALL_PREFIX here
# would move the source archive's files under usr/ as well.
# The package gets a stripped binary even from a RelWithDebInfo build.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Depends is worked out from the binary by dpkg-shlibdeps (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The extended description; CPack puts the summary above it, indents it for the control file
# and turns the empty line into the " ." that separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tessaro searches a directory tree for files ending in .tif and joins the
2, 4 or 6 tiles of each directory into one picture, two tiles wide, saved
as an uncompressed 24-bit BMP file named after the directory. On request
the tiles are deleted once the mosaic is safely on disk.

Any TIFF that libtiff's RGBA interface decodes can be a tile: 1 to 16 bits
per sample, gray, palette, RGB, CMYK or YCbCr, uncompressed or LZW,
Deflate or JPEG compressed, in strips or tiles. Messages are in Chinese.")

# The licence, in Debian's machine-readable form: /usr/share/doc/tessaro/copyright.
install(FILES "${PROJECT_SOURCE_DIR}/packaging/debian/copyright" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

if(NOT CMAKE_CROSSCOMPILING)
  find_program(TESSARO_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT TESSARO_DPKG_SHLIBDEPS)
    message(STATUS "dpkg-shlibdeps not found: install dpkg-dev before building the package")
  endif()
endif()

# `package_source`: the tree as a .tar.gz, without version control data or build directories.
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "~$")

include(CPack)
