# avs2y4m SCRIPT.avs: a script's picture as YUV4MPEG2 on standard output and
# its sound as WAV, through the video-file layer (tests and debugging).
add_executable(avs2y4m avs2y4m.cpp)
target_link_libraries(avs2y4m PRIVATE kv_video_file PkgConfig::FFMPEG)
target_link_options(avs2y4m PRIVATE -Wl,--as-needed)
set_target_properties(avs2y4m PROPERTIES AUTOMOC OFF
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")
