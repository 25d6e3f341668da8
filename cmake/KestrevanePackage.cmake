# The Debian package, made by CPack's DEB generator from the install rules of
# this build tree: `cmake --build --preset default --target package` writes
# build/<preset>/packages/kestrevane_<version>_<arch>.deb. Its Depends line is
# computed by dpkg-shlibdeps from the programs and libraries it holds.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "kestrevane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Kestrevane developers")
set(CPACK_PACKAGE_CONTACT "${KV_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
# The install script that writes the menu entry must see /usr as the prefix,
# not the staging folder: install into /usr with DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX "/usr")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KV_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libtessmar.so and the components the programs link lie in the program
# folder, found there through $ORIGIN.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${KV_PROGRAM_FOLDER}")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The summary line is CPACK_PACKAGE_DESCRIPTION_SUMMARY (the project's
# description); this is the text under it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kestrevane turns one title of an unencrypted DVD-Video folder on a local
disk into RealMedia files (.rmvb): as volumes of a chosen size, at an
average bit rate, or at constant quality. It indexes the disc with its own
library, lets the user pick a title with a preview, proposes and checks the
settings, and encodes volume by volume from a persisted queue with progress,
time left, pause, abort, reordering and power-off.
.
The terminal front end kestrevane-cli does the same work without windows
and can make one job per title of a series disc in one go.")
include(CPack)
