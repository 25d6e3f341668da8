# The title page's waits against the bare decoder and the direct steps:
#   title_page_bench <sample-dvds folder> <work-folder> [moves] [rounds]
# It drives the page in the tests' bare frame, so it needs the test support.
if(TARGET kv_wizard_test_support)
  add_executable(title_page_bench title_page_bench.cpp)
  target_link_libraries(title_page_bench PRIVATE kv_wizard_test_support)
  set_target_properties(title_page_bench PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools" BUILD_RPATH "${KV_PROGRAM_FOLDER}")
  add_dependencies(title_page_bench tessmar_rebuild_bench)
endif()
