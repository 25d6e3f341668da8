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
