# Tests of the frameserver: the script language and built-in functions on
# the interpreter itself; plug-in loading and serving through avisynth.dll.
kv_add_test(frameserver_script_tests
  SOURCES frameserver_script_test.cpp frameserver_builtins_test.cpp
  LIBS kv_frameserver_core)
set_target_properties(frameserver_script_tests PROPERTIES AUTOMOC OFF)

# A plug-in in C, and a shared object that is none.
add_library(kvfs_test_plugin MODULE frameserver_test_plugin.c)
target_include_directories(kvfs_test_plugin PRIVATE "${PROJECT_SOURCE_DIR}")
add_library(kvfs_not_plugin MODULE frameserver_not_plugin.c)
set_target_properties(kvfs_test_plugin kvfs_not_plugin PROPERTIES AUTOMOC OFF
  LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests" C_VISIBILITY_PRESET hidden)

kv_add_test(frameserver_plugin_tests
  SOURCES frameserver_plugin_test.cpp
  LIBS kv_frameserver_core)
set_target_properties(frameserver_plugin_tests PROPERTIES AUTOMOC OFF)
target_compile_definitions(frameserver_plugin_tests PRIVATE
  KV_TEST_PLUGIN="$<TARGET_FILE:kvfs_test_plugin>"
  KV_NOT_PLUGIN="$<TARGET_FILE:kvfs_not_plugin>")
add_dependencies(frameserver_plugin_tests kvfs_test_plugin kvfs_not_plugin)
