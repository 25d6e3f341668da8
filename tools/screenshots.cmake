# Pictures of the windows for the documentation: run under Xvfb.
add_executable(queue_window_shot screenshots/queue_window_shot.cpp)
target_link_libraries(queue_window_shot PRIVATE kv_app kv_queue)
set_target_properties(queue_window_shot PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")

add_executable(config_page_shot screenshots/config_page_shot.cpp)
target_link_libraries(config_page_shot PRIVATE kv_wizard)
set_target_properties(config_page_shot PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")

# The road of one job through the real windows, from New Job to encoding.
add_executable(road_shot screenshots/road_shot.cpp)
target_link_libraries(road_shot PRIVATE kv_app kv_queue kv_wizard)
target_compile_definitions(road_shot PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(road_shot program_folder kv_producer_program kv_avisynth kv_devil qmvideo
                 kv_qmaudio_ac3)
set_target_properties(road_shot PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")
