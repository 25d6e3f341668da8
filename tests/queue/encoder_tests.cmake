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

# libFuzzer target over the parsers of the encoder's output and job file,
# seeded with the test encoder's console lines and the wizard's job files.
kv_add_fuzz_target(encoder_output_fuzz
  SOURCES encoder_output_fuzz.cpp "${PROJECT_SOURCE_DIR}/queue/con_redir.cpp"
          "${PROJECT_SOURCE_DIR}/platform/child_process_posix.cpp"
          "${PROJECT_SOURCE_DIR}/queue/encoder_output.cpp"
          "${PROJECT_SOURCE_DIR}/queue/encoder_job_info.cpp"
  LIBS Threads::Threads
  SEEDS encoder_output_seeds
  SEED_TOOL producer_job_fuzz_seeds
  DICT encoder_output_fuzz.dict
  OPTIONS -max_len=8192)
