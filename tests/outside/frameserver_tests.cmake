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

# Serving through the installed registration, with avs2y4m and FFmpeg.
kv_add_test(frameserver_serving_tests
  SOURCES frameserver_serving_test.cpp
  LIBS kv_app kv_video_file kv_qmvideo_test_util qmvideo
  DVDS)
set_target_properties(frameserver_serving_tests PROPERTIES AUTOMOC OFF)
target_compile_definitions(frameserver_serving_tests PRIVATE
  KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}"
  KV_AVS2Y4M="$<TARGET_FILE:avs2y4m>"
  KV_TEST_PLUGIN="$<TARGET_FILE:kvfs_test_plugin>")
add_dependencies(frameserver_serving_tests avs2y4m kv_avisynth kv_devil qmvideo kvfs_test_plugin)

# libFuzzer target over script text with the built-in functions only,
# seeded with the job writer's scripts.
if(KV_FUZZ)
  add_executable(frameserver_script_seeds frameserver_script_seeds.cpp)
  set_target_properties(frameserver_script_seeds PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests" AUTOMOC OFF)
  target_link_libraries(frameserver_script_seeds PRIVATE kv_wizard)
endif()
get_target_property(kv_fs_core_sources kv_frameserver_core SOURCES)
get_target_property(kv_fs_core_dir kv_frameserver_core SOURCE_DIR)
list(TRANSFORM kv_fs_core_sources PREPEND "${kv_fs_core_dir}/")
kv_add_fuzz_target(frameserver_fuzz
  SOURCES frameserver_fuzz.cpp ${kv_fs_core_sources}
  LIBS PkgConfig::FFMPEG ${CMAKE_DL_LIBS}
  SEEDS frameserver_fuzz_seeds
  SEED_TOOL frameserver_script_seeds
  DICT frameserver_fuzz.dict
  OPTIONS -max_len=4096 -rss_limit_mb=4096)
