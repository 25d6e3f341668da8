# The analysis and preparation of the two-hour sample film against a plain
# read of its files (cmake --build --preset default --target long_film makes
# the film):
#   long_film_bench <DVD folder> <work folder> [rounds] [vts] [pgc]
add_executable(long_film_bench long_film_bench.cpp)
target_link_libraries(long_film_bench PRIVATE kv_wizard tessmar)
set_target_properties(long_film_bench PROPERTIES AUTOMOC OFF
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools" BUILD_RPATH "${KV_PROGRAM_FOLDER}")
