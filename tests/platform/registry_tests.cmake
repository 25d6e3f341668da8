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
  PRIVATE KV_REGISTRY_WRITER="$<TARGET_FILE:kv_registry_writer>"
          KV_REGISTRY_FINDINGS="${CMAKE_CURRENT_SOURCE_DIR}/registry_store_fuzz_seeds")
add_dependencies(platform_registry_tests kv_registry_writer)

# libFuzzer target over the store file as a start finds it: opened with the
# recovery of a damaged store, the job list repaired and loaded, the
# frameserver installed and uninstalled; seeded with stores the program
# writes and damaged copies of them.
if(KV_FUZZ)
  add_executable(registry_store_fuzz_seeds registry_store_fuzz_seeds.cpp
                 "${PROJECT_SOURCE_DIR}/app/frameserver_install.cpp")
  set_target_properties(registry_store_fuzz_seeds PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests" AUTOMOC OFF)
  target_link_libraries(registry_store_fuzz_seeds PRIVATE kv_platform SQLite::SQLite3)
endif()
kv_add_fuzz_target(registry_store_fuzz
  SOURCES registry_store_fuzz.cpp sqlite_fuzz_heap.cpp ${KV_TESSMAR_FORMATS_SOURCES}
          "${PROJECT_SOURCE_DIR}/platform/registry_store_posix.cpp"
          "${PROJECT_SOURCE_DIR}/platform/registry_recovery_posix.cpp"
          "${PROJECT_SOURCE_DIR}/platform/registry_access.cpp"
          "${PROJECT_SOURCE_DIR}/queue/job_store.cpp"
          "${PROJECT_SOURCE_DIR}/queue/job_file.cpp"
          "${PROJECT_SOURCE_DIR}/queue/job_problem.cpp"
          "${PROJECT_SOURCE_DIR}/queue/job_details.cpp"
          "${PROJECT_SOURCE_DIR}/app/frameserver_install.cpp"
  LIBS kv_platform SQLite::SQLite3
  SEEDS registry_store_fuzz_seeds
  SEED_TOOL registry_store_fuzz_seeds
  OPTIONS -max_len=32768)
