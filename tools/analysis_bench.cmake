# The wizard's DVD analysis against bare index runs, and the import of a
# pending analysis against cp:
#   analysis_bench <sample VIDEO_TS> <work-folder> [GiB] [pairs]
add_executable(analysis_bench analysis_bench.cpp)
target_link_libraries(analysis_bench PRIVATE kv_app tessmar)
set_target_properties(analysis_bench PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools" BUILD_RPATH "${KV_PROGRAM_FOLDER}")
