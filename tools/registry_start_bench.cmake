# The registry work of a start, the store's statements kept prepared against
# prepared per use: registry_start_bench <work-folder> [jobs] [rounds].
add_executable(registry_start_bench registry_start_bench.cpp)
target_link_libraries(registry_start_bench PRIVATE kv_queue_core SQLite::SQLite3)
set_target_properties(registry_start_bench PROPERTIES AUTOMOC OFF
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")
