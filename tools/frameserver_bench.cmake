# Serving through the frameserver against the decoder alone:
# frameserver_bench <VIDEO_TS folder> [vts] [pgc] [passes].
# The decoder alone is qmvideo's frame source compiled in, so that both
# sides deliver the same planar pictures.
add_executable(frameserver_bench frameserver_bench.cpp
  "${PROJECT_SOURCE_DIR}/outside/qmvideo/video_source.cpp"
  "${PROJECT_SOURCE_DIR}/outside/qmvideo/video_index.cpp")
target_link_libraries(frameserver_bench PRIVATE tessmar tessmar_formats PkgConfig::FFMPEG
                      ${CMAKE_DL_LIBS})
target_compile_definitions(frameserver_bench PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(frameserver_bench kv_avisynth qmvideo)
set_target_properties(frameserver_bench PROPERTIES AUTOMOC OFF
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools" BUILD_RPATH "${KV_PROGRAM_FOLDER}")
