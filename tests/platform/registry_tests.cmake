# Tests of the registry store and of RegistryAccess.

# A second process for the concurrency and crash tests.
add_executable(kv_registry_writer registry_writer_main.cpp)
set_target_properties(kv_registry_writer PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
target_link_libraries(kv_registry_writer PRIVATE kv_platform)

kv_add_test(platform_registry_tests
  SOURCES registry_store_test.cpp registry_access_test.cpp registry_crash_test.cpp
          registry_recovery_test.cpp
  LIBS kv_platform SQLite::SQLite3)
target_compile_definitions(platform_registry_tests
  PRIVATE KV_REGISTRY_WRITER="$<TARGET_FILE:kv_registry_writer>")
add_dependencies(platform_registry_tests kv_registry_writer)
