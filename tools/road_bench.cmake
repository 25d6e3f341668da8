# The whole road of one job without windows against ffmpeg's transcode of
# the same title: road_bench <VIDEO_TS folder> [rounds] [vts] [pgc] [volumes] [MB].
add_executable(road_bench road_bench.cpp)
target_link_libraries(road_bench PRIVATE kv_app kv_wizard kv_queue kv_producer tessmar)
target_compile_definitions(road_bench PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(road_bench program_folder kv_producer_program kv_avisynth kv_devil qmvideo
                 kv_decomb_plugin kv_vsfilter_plugin kv_qmaudio_ac3 kv_qmaudio_dts
                 kv_qmaudio_mpa kv_qmaudio_lpcm)
set_target_properties(road_bench PROPERTIES AUTOMOC OFF
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")
