# The installed copy (`cmake --install`): the program folder as the build lays
# it out, under lib/kestrevane of the prefix; a launcher in bin; the menu entry
# and the icon where the desktop looks for them.
include(GNUInstallDirs)
set(KV_INSTALL_PROGRAM_DIR "lib/kestrevane" CACHE STRING
    "The program folder of an installed copy, under the install prefix")
set(KV_INSTALL_BIN_DIR "${CMAKE_INSTALL_BINDIR}")

# The program folder's parts are installed by kv_program_folder_part; its two
# documents here.
install(FILES "${PROJECT_SOURCE_DIR}/docs/Readme.txt" DESTINATION "${KV_INSTALL_PROGRAM_DIR}")
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION "${KV_INSTALL_PROGRAM_DIR}"
        RENAME License.txt)

# The launchers (the program and its terminal front end) find the program
# folder relative to themselves, so the copy may be moved together with its
# prefix.
set(KV_DESKTOP_SOURCE "${PROJECT_SOURCE_DIR}/app/desktop")
set(KV_DESKTOP_STAGE "${CMAKE_BINARY_DIR}/desktop")
file(RELATIVE_PATH KV_BIN_TO_PROGRAM "/prefix/${KV_INSTALL_BIN_DIR}"
     "/prefix/${KV_INSTALL_PROGRAM_DIR}")
foreach(launcher IN ITEMS "kestrevane:Kestrevane" "kestrevane-cli:kestrevane-cli")
  string(REPLACE ":" ";" launcher "${launcher}")
  list(GET launcher 0 KV_LAUNCHER_NAME)
  list(GET launcher 1 KV_LAUNCHED)
  configure_file("${KV_DESKTOP_SOURCE}/launcher.in" "${KV_DESKTOP_STAGE}/${KV_LAUNCHER_NAME}" @ONLY)
  install(PROGRAMS "${KV_DESKTOP_STAGE}/${KV_LAUNCHER_NAME}" DESTINATION "${KV_INSTALL_BIN_DIR}")
endforeach()

# The menu entry names the launcher by its full path, which depends on the
# prefix given to `cmake --install`: it is written when the install runs.
configure_file("${KV_DESKTOP_SOURCE}/install.cmake" "${KV_DESKTOP_STAGE}/install.cmake" @ONLY)
install(SCRIPT "${KV_DESKTOP_STAGE}/install.cmake")
install(FILES "${KV_DESKTOP_SOURCE}/kestrevane.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
