# The encoder against the ffmpeg command line doing the same work:
# producer_bench [--levels] <VIDEO_TS folder> [rounds] [vts] [pgc].
add_executable(producer_bench producer_bench.cpp peer_pictures.cpp)
target_link_libraries(producer_bench PRIVATE kv_app kv_producer tessmar)
target_compile_definitions(producer_bench PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}"
                           KV_AVS2Y4M="$<TARGET_FILE:avs2y4m>")
add_dependencies(producer_bench kv_producer_program kv_avisynth kv_devil qmvideo avs2y4m)
set_target_properties(producer_bench PROPERTIES AUTOMOC OFF
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")
