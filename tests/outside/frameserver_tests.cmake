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

# libFuzzer target over script text with the built-in functions only
# (clang only). A short run is part of the suite; longer runs:
#   frameserver_fuzz -dict=tests/outside/frameserver_fuzz.dict <corpus>
#                    tests/outside/frameserver_fuzz_seeds -max_total_time=N
if(CMAKE_CXX_COMPILER_ID MATCHES Clang)
  get_target_property(kv_fs_core_sources kv_frameserver_core SOURCES)
  get_target_property(kv_fs_core_dir kv_frameserver_core SOURCE_DIR)
  list(TRANSFORM kv_fs_core_sources PREPEND "${kv_fs_core_dir}/")
  set(kv_fs_fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  add_executable(frameserver_fuzz frameserver_fuzz.cpp ${kv_fs_core_sources})
  set_target_properties(frameserver_fuzz PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests" AUTOMOC OFF)
  target_include_directories(frameserver_fuzz PRIVATE "${PROJECT_SOURCE_DIR}")
  target_compile_options(frameserver_fuzz PRIVATE ${kv_fs_fuzz_flags})
  target_link_options(frameserver_fuzz PRIVATE ${kv_fs_fuzz_flags})
  target_link_libraries(frameserver_fuzz PRIVATE PkgConfig::FFMPEG ${CMAKE_DL_LIBS})
  set(kv_fs_corpus "${CMAKE_BINARY_DIR}/tests/frameserver_fuzz_corpus")
  add_test(NAME frameserver_fuzz_short
           COMMAND sh -c "mkdir -p \"$1\" && exec \"$0\" -max_total_time=30 -max_len=4096 -rss_limit_mb=4096 -timeout=10 -dict=\"$3\" \"$1\" \"$2\""
                   "$<TARGET_FILE:frameserver_fuzz>" "${kv_fs_corpus}"
                   "${CMAKE_CURRENT_SOURCE_DIR}/frameserver_fuzz_seeds"
                   "${CMAKE_CURRENT_SOURCE_DIR}/frameserver_fuzz.dict")
  set_tests_properties(frameserver_fuzz_short PROPERTIES TIMEOUT 300)
endif()
