# Tests of the encoder process control (included from CMakeLists.txt here).

# The scripted stand-in for the encoder: a test tool, never in the program folder.
add_executable(kv_test_encoder test_encoder.cpp)
set_target_properties(kv_test_encoder PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
target_include_directories(kv_test_encoder PRIVATE "${PROJECT_SOURCE_DIR}")

# Console redirection with real children, the hand-over to the user-interface
# thread, and the pure parsers of the encoder's output and job file.
kv_add_test(queue_con_redir_tests SOURCES con_redir_test.cpp encoder_output_test.cpp
            LIBS kv_queue WIDGETS)
target_compile_definitions(queue_con_redir_tests PRIVATE
                           KV_TEST_ENCODER="$<TARGET_FILE:kv_test_encoder>")
add_dependencies(queue_con_redir_tests kv_test_encoder)

# The encoder controller driven through the test encoder's scripts.
kv_add_test(queue_encoder_control_tests SOURCES encoder_control_test.cpp LIBS kv_queue WIDGETS)
target_compile_definitions(queue_encoder_control_tests PRIVATE
                           KV_TEST_ENCODER="$<TARGET_FILE:kv_test_encoder>")
add_dependencies(queue_encoder_control_tests kv_test_encoder)

# libFuzzer target over the parsers of the encoder's output and job file
# (clang only); a short run is part of the suite.
if(CMAKE_CXX_COMPILER_ID MATCHES Clang)
  set(kv_encoder_fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  add_executable(encoder_output_fuzz encoder_output_fuzz.cpp
    "${PROJECT_SOURCE_DIR}/queue/con_redir.cpp"
    "${PROJECT_SOURCE_DIR}/platform/child_process_posix.cpp"
    "${PROJECT_SOURCE_DIR}/queue/encoder_output.cpp"
    "${PROJECT_SOURCE_DIR}/queue/encoder_job_info.cpp")
  set_target_properties(encoder_output_fuzz PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests" AUTOMOC OFF)
  target_include_directories(encoder_output_fuzz PRIVATE "${PROJECT_SOURCE_DIR}")
  target_compile_options(encoder_output_fuzz PRIVATE ${kv_encoder_fuzz_flags})
  target_link_options(encoder_output_fuzz PRIVATE ${kv_encoder_fuzz_flags})
  target_link_libraries(encoder_output_fuzz PRIVATE Threads::Threads)
  add_test(NAME encoder_output_fuzz_short
           COMMAND encoder_output_fuzz -max_total_time=15 -max_len=8192)
endif()
