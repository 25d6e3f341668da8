# Serving through the frameserver against the decoder alone:
# frameserver_bench <VIDEO_TS folder> [vts] [pgc] [passes].
add_executable(frameserver_bench frameserver_bench.cpp)
target_link_libraries(frameserver_bench PRIVATE qmvideo tessmar ${CMAKE_DL_LIBS})
target_compile_definitions(frameserver_bench PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(frameserver_bench kv_avisynth)
set_target_properties(frameserver_bench PROPERTIES AUTOMOC OFF
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools" BUILD_RPATH "${KV_PROGRAM_FOLDER}")
