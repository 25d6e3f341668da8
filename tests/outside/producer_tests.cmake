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

# libFuzzer target over the job file reader, seeded with the files the
# wizard's writer makes and the schema's element names as a dictionary.
if(KV_FUZZ)
  add_executable(producer_job_fuzz_seeds producer_job_fuzz_seeds.cpp)
  set_target_properties(producer_job_fuzz_seeds PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests" AUTOMOC OFF)
  target_link_libraries(producer_job_fuzz_seeds PRIVATE kv_wizard)
endif()
kv_add_fuzz_target(producer_job_fuzz
  SOURCES producer_job_fuzz.cpp "${PROJECT_SOURCE_DIR}/outside/producer/job_file.cpp"
          "${PROJECT_SOURCE_DIR}/outside/producer/audio_codec_rows.cpp"
          "${PROJECT_SOURCE_DIR}/wizard/settings_tables.cpp"
  LIBS Qt6::Core
  SEED_TOOL producer_job_fuzz_seeds
  DICT producer_job_fuzz.dict
  OPTIONS -max_len=8192)

# The preview player: its conversion, its rules, and its window on the
# offscreen platform.
kv_add_test(player_tests
  SOURCES player_test.cpp player_picture_test.cpp player_control_test.cpp
  LIBS kv_player kv_app
  WIDGETS)
target_compile_definitions(player_tests PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(player_tests kv_avisynth kv_devil)

# Segments of every sample title served side by side against the whole clip.
kv_add_test(producer_serving_tests
  SOURCES producer_serving_test.cpp
  LIBS kv_producer kv_wizard kv_plugin_test_util kv_qmvideo_test_util ZLIB::ZLIB
  DVDS)
add_dependencies(producer_serving_tests kv_avisynth kv_devil qmvideo kv_decomb_plugin
                 kv_vsfilter_plugin)
