# Tests of the platform services other than the registry store.

# A second process for the single-instance tests: holds a lock until killed.
add_executable(kv_lock_holder lock_holder_main.cpp)
target_link_libraries(kv_lock_holder PRIVATE kv_platform)
set_target_properties(kv_lock_holder PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")

kv_add_test(platform_services_tests
  SOURCES single_instance_test.cpp file_system_test.cpp drive_test.cpp folders_test.cpp
          shell_test.cpp seams_test.cpp
  LIBS kv_platform)
add_dependencies(platform_services_tests kv_lock_holder)
target_compile_definitions(platform_services_tests PRIVATE
  KV_LOCK_HOLDER="$<TARGET_FILE:kv_lock_holder>")

# The real message box and folder chooser, driven on the offscreen platform.
kv_add_test(platform_dialogs_tests
  SOURCES dialogs_test.cpp
  LIBS kv_platform Qt6::Test
  WIDGETS)

# The sleep inhibitor and the notifications over a private D-Bus with mocks of
# logind and the desktop's notification daemon.
kv_add_test(platform_desktop_bus_tests
  SOURCES desktop_bus_test.cpp
  LIBS kv_platform kv_test_dbus)
