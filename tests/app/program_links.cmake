# Checks what a program links: the libraries the dynamic loader gives it
# (ldd) and the link line the build runs for it (Ninja's build file).
#   -DPROGRAM=<built program> -DBUILD_DIR=<build tree>
#   -DREQUIRED=<names the link line must hold, to show it is the right one>
#   -DFORBIDDEN=<library names neither may hold: Qt6Widgets, kv_wizard>
#   -P program_links.cmake
# A name matches lib<name>.so (ldd) and lib<name>.so / lib<name>.a (link line).
foreach(var PROGRAM BUILD_DIR REQUIRED FORBIDDEN)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()
string(REPLACE "," ";" REQUIRED "${REQUIRED}")
string(REPLACE "," ";" FORBIDDEN "${FORBIDDEN}")

# The libraries the loader maps.
execute_process(COMMAND ldd "${PROGRAM}" OUTPUT_VARIABLE loaded RESULT_VARIABLE ldd_result)
if(NOT ldd_result EQUAL 0 OR NOT loaded MATCHES "libQt6Core")
  message(FATAL_ERROR "ldd ${PROGRAM} failed (${ldd_result}):\n${loaded}")
endif()

# The link statement: "build <output>: <linker rule> ..." and its indented
# variables up to the next statement.
file(RELATIVE_PATH output "${BUILD_DIR}" "${PROGRAM}")
file(STRINGS "${BUILD_DIR}/build.ninja" ninja_lines)
set(in_statement FALSE)
set(link_line "")
foreach(line IN LISTS ninja_lines)
  if(line MATCHES "^build ([^:]+): [A-Za-z_]*LINKER")
    set(in_statement FALSE)
    if(CMAKE_MATCH_1 STREQUAL output)
      set(in_statement TRUE)
    endif()
  elseif(in_statement AND line MATCHES "^  LINK_LIBRARIES = (.*)$")
    set(link_line "${CMAKE_MATCH_1}")
    break()
  endif()
endforeach()
if(link_line STREQUAL "")
  message(FATAL_ERROR "No link statement for ${output} in ${BUILD_DIR}/build.ninja")
endif()

set(problems "")
foreach(name IN LISTS REQUIRED)
  if(NOT link_line MATCHES "lib${name}\\.(a|so)")
    list(APPEND problems "the link line lacks lib${name}")
  endif()
endforeach()
foreach(name IN LISTS FORBIDDEN)
  if(loaded MATCHES "lib${name}\\.so")
    list(APPEND problems "ldd shows lib${name}")
  endif()
  if(link_line MATCHES "(^|[/ ])lib${name}\\.(a|so)")
    list(APPEND problems "the link line names lib${name}")
  endif()
endforeach()
if(problems)
  string(REPLACE ";" "\n  " problems "${problems}")
  message(FATAL_ERROR "${output}:\n  ${problems}\nldd:\n${loaded}\nlink line:\n  ${link_line}")
endif()
message(STATUS "${output} links none of: ${FORBIDDEN}")
