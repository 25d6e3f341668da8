# Run by `cmake --install` and by CPack: the menu entry names the launcher by
# its full path, which depends on the prefix given to the install and is
# known only now. It is written straight into the installed tree, so that two
# installs at once (a package being made while a test installs a copy) share
# no file of the build tree.
set(KV_LAUNCHER "${CMAKE_INSTALL_PREFIX}/@KV_INSTALL_BIN_DIR@/kestrevane")
set(kv_entry "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_DATADIR@/applications/kestrevane.desktop")
message(STATUS "Installing: $ENV{DESTDIR}${kv_entry}")
configure_file("@KV_DESKTOP_SOURCE@/kestrevane.desktop.in" "$ENV{DESTDIR}${kv_entry}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "$ENV{DESTDIR}${kv_entry}")
