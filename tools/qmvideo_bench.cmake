# Frame access times of qmvideo.dll against libavformat/libavcodec in process:
#   qmvideo_bench <DVD folder> <work-folder> [vts] [pgc] [film flag]
add_executable(qmvideo_bench qmvideo_bench.cpp)
target_link_libraries(qmvideo_bench PRIVATE tessmar qmvideo tessmar_formats PkgConfig::FFMPEG
                      ZLIB::ZLIB)
set_target_properties(qmvideo_bench PROPERTIES AUTOMOC OFF
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools" BUILD_RPATH "${KV_PROGRAM_FOLDER}")
