# Console output of a child through the encoder control, against a plain pipe
# read of the same bytes: encoder_output_bench [MB/s] [seconds] [MB].
add_executable(encoder_output_bench encoder_output_bench.cpp)
target_link_libraries(encoder_output_bench PRIVATE kv_queue)
set_target_properties(encoder_output_bench PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")
