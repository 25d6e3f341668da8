# Tests of the encoder stand-in: the job file reader, the rate control and
# the console lines on their own; whole encodings through the installed
# frameserver, started by the real encoder control.
kv_add_test(producer_encode_tests
  SOURCES producer_encode_test.cpp
  LIBS kv_app kv_queue kv_wizard kv_producer kv_qmvideo_test_util kv_plugin_test_util qmvideo
  DVDS WIDGETS)
target_compile_definitions(producer_encode_tests PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(producer_encode_tests kv_producer_program kv_avisynth kv_devil qmvideo
                 kv_qmaudio_mpa kv_qmaudio_ac3)

kv_add_test(producer_unit_tests
  SOURCES producer_unit_test.cpp
  LIBS kv_producer kv_queue kv_wizard)

# libFuzzer target over the job file reader (clang only); a short run is
# part of the suite.
if(CMAKE_CXX_COMPILER_ID MATCHES Clang)
  set(kv_producer_fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  add_executable(producer_job_fuzz producer_job_fuzz.cpp
    "${PROJECT_SOURCE_DIR}/outside/producer/job_file.cpp"
    "${PROJECT_SOURCE_DIR}/outside/producer/audio_codec_rows.cpp"
    "${PROJECT_SOURCE_DIR}/wizard/settings_tables.cpp")
  set_target_properties(producer_job_fuzz PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests" AUTOMOC OFF)
  target_include_directories(producer_job_fuzz PRIVATE "${PROJECT_SOURCE_DIR}")
  target_compile_options(producer_job_fuzz PRIVATE ${kv_producer_fuzz_flags})
  target_link_options(producer_job_fuzz PRIVATE ${kv_producer_fuzz_flags})
  target_link_libraries(producer_job_fuzz PRIVATE Qt6::Core)
  add_test(NAME producer_job_fuzz_short
           COMMAND producer_job_fuzz -max_total_time=20 -max_len=8192)
endif()

# The preview player: its conversion, its rules, and its window on the
# offscreen platform.
kv_add_test(player_tests
  SOURCES player_test.cpp player_picture_test.cpp player_control_test.cpp
  LIBS kv_player kv_app
  WIDGETS)
target_compile_definitions(player_tests PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(player_tests kv_avisynth kv_devil)
