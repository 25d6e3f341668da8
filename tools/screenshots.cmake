# Pictures of the windows for the documentation: run under Xvfb.
add_executable(queue_window_shot screenshots/queue_window_shot.cpp)
target_link_libraries(queue_window_shot PRIVATE kv_app kv_queue)
set_target_properties(queue_window_shot PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")

add_executable(config_page_shot screenshots/config_page_shot.cpp)
target_link_libraries(config_page_shot PRIVATE kv_wizard)
set_target_properties(config_page_shot PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")
