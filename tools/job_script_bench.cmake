# A complete job script served against FFmpeg's equivalent graph, its
# libraries in the same process and the ffmpeg command:
# job_script_bench <VIDEO_TS folder> [passes] [audio stream] [sub-picture stream].
add_executable(job_script_bench job_script_bench.cpp)
target_link_libraries(job_script_bench PRIVATE tessmar tessmar_formats PkgConfig::FFMPEG ${CMAKE_DL_LIBS})
target_compile_definitions(job_script_bench PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(job_script_bench kv_avisynth qmvideo kv_decomb_plugin kv_vsfilter_plugin
  kv_qmaudio_ac3)
set_target_properties(job_script_bench PROPERTIES AUTOMOC OFF
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools" BUILD_RPATH "${KV_PROGRAM_FOLDER}")
