# The Debian package: `cpack -G DEB` in the build folder makes zkfileexport_VERSION_ARCH.deb.
# Included from the top-level CMakeLists.txt, which CPack's settings must be set in.
# Installing and packaging take what is built: `make install` and cpack do not build everything
# first (the test of the install tree runs them after the build).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zkfileexport)
set(CPACK_PACKAGE_VENDOR "zk File Export contributors")
set(CPACK_PACKAGE_CONTACT "zk File Export contributors <zkfileexport@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert skin-resistance recordings (.zkd) into CSV files")
set(CPACK_PACKAGE_DESCRIPTION
  "zk File Export turns the recordings of a skin-resistance measuring instrument\n\
(.zkd: 20-byte sample records every 20 ms, with tag marks) into CSV files that\n\
spreadsheets open. It comes as a window, zkfileexport, with a preview of the\n\
recording, and as its command-line twin, zkexport; both write the same bytes\n\
for the same settings.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The libraries' packages come from dpkg-shlibdeps (in dpkg-dev), but for libxlsxwriter's, which
# is loaded only when a workbook is written.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libxlsxwriter4")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
