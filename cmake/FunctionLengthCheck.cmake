# Lists the functions of the project, outside tests/, that run over
# MAX_LINES lines (from the line of their name to their closing brace), and
# fails when there is one. Function extents come from Universal Ctags.
#   cmake -DCTAGS=<ctags> -DSOURCE_DIR=<repository> [-DMAX_LINES=100]
#         [-DALLOWED=<file>:<function>,...] -P cmake/FunctionLengthCheck.cmake
# ALLOWED names long functions that are being split by others' work at the
# moment; each entry goes as soon as that work lands.
cmake_minimum_required(VERSION 3.25)
if(NOT MAX_LINES)
  set(MAX_LINES 100)
endif()
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
list(FILTER files EXCLUDE REGEX "^tests/")
string(REPLACE "," ";" ALLOWED "${ALLOWED}")
set(existing "")
foreach(f IN LISTS files)
  if(EXISTS "${SOURCE_DIR}/${f}")
    list(APPEND existing "${f}")
  endif()
endforeach()
string(REPLACE ";" "\n" list_text "${existing}")
set(list_file "${CMAKE_CURRENT_BINARY_DIR}/function_length_files.txt")
file(WRITE "${list_file}" "${list_text}\n")

execute_process(COMMAND "${CTAGS}" -L "${list_file}" --fields=+ne --kinds-c++=f --kinds-c=f
                        -o -
                WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE tags
                RESULT_VARIABLE ctags_result)
if(NOT ctags_result EQUAL 0)
  message(FATAL_ERROR "ctags failed (${ctags_result})")
endif()

# One tag a line: name, file, pattern, kind, then fields such as line:12 and
# end:40. The pattern may hold ';', which CMake lists split on, and square
# brackets, which would keep them from splitting.
string(REPLACE ";" "," tags "${tags}")
string(REPLACE "[" "(" tags "${tags}")
string(REPLACE "]" ")" tags "${tags}")
string(REPLACE "\n" ";" tags "${tags}")
set(long "")
set(count 0)
foreach(tag IN LISTS tags)
  if(NOT tag MATCHES "^([^\t]+)\t([^\t]+)\t.*\tline:([0-9]+)(\t.*)?\tend:([0-9]+)")
    continue()
  endif()
  math(EXPR count "${count} + 1")
  math(EXPR lines "${CMAKE_MATCH_5} - ${CMAKE_MATCH_3} + 1")
  if(lines GREATER MAX_LINES AND NOT "${CMAKE_MATCH_2}:${CMAKE_MATCH_1}" IN_LIST ALLOWED)
    list(APPEND long "${CMAKE_MATCH_2}:${CMAKE_MATCH_3}: ${CMAKE_MATCH_1} (${lines} lines)")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "ctags reported no function extents; is it Universal Ctags?")
endif()
if(long)
  string(REPLACE ";" "\n  " long "${long}")
  message(FATAL_ERROR "Functions over ${MAX_LINES} lines:\n  ${long}\n"
                      "Split them into named steps.")
endif()
message(STATUS "${count} functions, none over ${MAX_LINES} lines")
