# Fails when a C++ source of the project differs from its clang-format form.
execute_process(COMMAND git ls-files -- "*.cpp" "*.h" "*.c"
                WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE files
                RESULT_VARIABLE git_result OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT git_result EQUAL 0 OR files STREQUAL "")
  file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}"
       "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.c")
  list(FILTER files EXCLUDE REGEX "^build")
else()
  string(REPLACE "\n" ";" files "${files}")
endif()
set(bad "")
foreach(f IN LISTS files)
  if(NOT EXISTS "${SOURCE_DIR}/${f}")
    continue()
  endif()
  execute_process(COMMAND "${CLANG_FORMAT}" --dry-run -Werror "${f}"
                  WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE r
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT r EQUAL 0)
    list(APPEND bad "${f}")
  endif()
endforeach()
if(bad)
  string(REPLACE ";" "\n  " bad "${bad}")
  message(FATAL_ERROR "Not formatted with clang-format:\n  ${bad}\n"
                      "Run: clang-format -i <file>")
endif()
