# Tests of the frameserver plug-ins (audio sources, Decomb, VSFilter) through
# the installed frameserver, against FFmpeg.
add_library(kv_plugin_test_util STATIC plugin_test_util.cpp)
set_target_properties(kv_plugin_test_util PROPERTIES AUTOMOC OFF)
target_include_directories(kv_plugin_test_util PUBLIC "${PROJECT_SOURCE_DIR}")
target_link_libraries(kv_plugin_test_util PUBLIC kv_app kv_video_file kv_tessmar_test_util tessmar
  tessmar_formats)
target_compile_definitions(kv_plugin_test_util PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")

kv_add_test(qmaudio_tests
  SOURCES qmaudio_test.cpp
  LIBS kv_plugin_test_util
  DVDS)
set_target_properties(qmaudio_tests PROPERTIES AUTOMOC OFF)
add_dependencies(qmaudio_tests kv_avisynth kv_devil qmvideo kv_qmaudio_ac3 kv_qmaudio_dts
  kv_qmaudio_mpa kv_qmaudio_lpcm)

kv_add_test(decomb_tests
  SOURCES decomb_test.cpp
  LIBS kv_plugin_test_util
  DVDS)
set_target_properties(decomb_tests PROPERTIES AUTOMOC OFF)
target_compile_definitions(decomb_tests PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(decomb_tests kv_avisynth kv_devil qmvideo kv_decomb_plugin)

kv_add_test(vsfilter_tests
  SOURCES vsfilter_test.cpp
  LIBS kv_plugin_test_util
  DVDS)
set_target_properties(vsfilter_tests PROPERTIES AUTOMOC OFF)
add_dependencies(vsfilter_tests kv_avisynth kv_devil qmvideo kv_vsfilter_plugin)

# The VobSub reader on its own, over the sample's sub-pictures.
kv_add_test(subtitle_track_tests
  SOURCES subtitle_track_test.cpp
  LIBS kv_plugin_test_util kv_vsfilter
  DVDS)
set_target_properties(subtitle_track_tests PROPERTIES AUTOMOC OFF)

# The job writer's scripts served with every plug-in.
kv_add_test(job_script_shapes_tests
  SOURCES job_script_shapes_test.cpp
  LIBS kv_plugin_test_util kv_wizard
  DVDS)
set_target_properties(job_script_shapes_tests PROPERTIES AUTOMOC OFF)
add_dependencies(job_script_shapes_tests kv_avisynth kv_devil qmvideo kv_decomb_plugin
  kv_vsfilter_plugin kv_qmaudio_ac3 kv_qmaudio_dts kv_qmaudio_mpa kv_qmaudio_lpcm)

# libFuzzer targets over the audio source's map and stream reading and the
# VobSub index and stream reading, with seeds from the sample discs.
if(KV_FUZZ)
  add_executable(plugin_fuzz_seeds plugin_fuzz_seeds.cpp)
  set_target_properties(plugin_fuzz_seeds PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests" AUTOMOC OFF)
  target_link_libraries(plugin_fuzz_seeds PRIVATE kv_plugin_test_util)
endif()
kv_add_fuzz_target(qmaudio_fuzz
  SOURCES qmaudio_fuzz.cpp ${KV_TESSMAR_FORMATS_SOURCES}
          "${PROJECT_SOURCE_DIR}/outside/qmaudio/frame_headers.cpp"
          "${PROJECT_SOURCE_DIR}/outside/qmaudio/audio_source.cpp"
  LIBS PkgConfig::FFMPEG
  SEED_TOOL plugin_fuzz_seeds audio
  DICT qmaudio_fuzz.dict
  OPTIONS -max_len=65536 -rss_limit_mb=4096
  DVDS)
kv_add_fuzz_target(vobsub_fuzz
  SOURCES vobsub_fuzz.cpp ${KV_TESSMAR_FORMATS_SOURCES}
          "${PROJECT_SOURCE_DIR}/outside/vsfilter/sub_stream.cpp"
          "${PROJECT_SOURCE_DIR}/outside/vsfilter/subtitle_track.cpp"
  LIBS PkgConfig::FFMPEG
  SEEDS vobsub_fuzz_seeds
  SEED_TOOL plugin_fuzz_seeds vobsub
  DICT vobsub_fuzz.dict
  # A bitmap never outgrows the picture it is drawn on: no input may need
  # much more than the sanitizer's quarantine.
  OPTIONS -max_len=16384 -rss_limit_mb=1024 -malloc_limit_mb=64
  DVDS)
