# Run by `cmake --install`: the launcher and the menu entry name the prefix
# the copy is installed under, which is known only now.
set(KV_LAUNCHER "${CMAKE_INSTALL_PREFIX}/@KV_INSTALL_BIN_DIR@/kestrevane")
configure_file("@KV_DESKTOP_SOURCE@/kestrevane.desktop.in"
               "@KV_DESKTOP_STAGE@/kestrevane.desktop" @ONLY)
