# libFuzzer targets: every reader of outside input, built with the fuzzer's
# instrumentation and the address and undefined-behaviour sanitizers (clang
# only; not beside ThreadSanitizer). tools/fuzz-campaign runs them for a time
# each, keeping each corpus under <build>/fuzzing/<name>/ between runs; the
# test <name>_smoke runs a target a few seconds over its seeds (label "fuzz").

if(CMAKE_CXX_COMPILER_ID MATCHES Clang AND NOT CMAKE_CXX_FLAGS MATCHES "sanitize=thread")
  set(KV_FUZZ ON)
else()
  set(KV_FUZZ OFF)
endif()

# Seconds each smoke test runs its target.
set(KV_FUZZ_SMOKE_SECONDS 5 CACHE STRING "Seconds of each fuzz target's smoke test")

set(kv_fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)

# Everything tools/fuzz-campaign builds before it runs: the targets and the
# programs that write their seeds.
if(KV_FUZZ)
  add_custom_target(fuzz_targets)
endif()

# kv_add_fuzz_target(<name> SOURCES ... [LIBS ...] [SEEDS <folder>...]
#                    [SEED_TOOL <target> <argument>...]...
#                    [SEED_SCRIPT <shell script> <argument>...]
#                    [DICT <file>] [OPTIONS <libFuzzer option>...] [DVDS])
#   SOURCES      the target and the reader's sources, compiled with the
#                instrumentation (a library linked in is not instrumented).
#   SEEDS        folders of seeds kept in the source tree, the regression
#                inputs of fixed findings among them; copied into the corpus.
#   SEED_TOOL    a program of this build (it may be defined later) that
#                writes seeds into the folder given as its last argument
#                (appended); may be given more than once.
#   SEED_SCRIPT  a shell script that does the same.
#   DICT         a dictionary of the input's words, for text inputs.
#   OPTIONS      libFuzzer options of every run (-max_len=, -rss_limit_mb=).
#   DVDS         the target or its seeds read the sample DVD folders.
function(kv_add_fuzz_target name)
  if(NOT KV_FUZZ)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 ARG "DVDS" "DICT"
                        "SOURCES;LIBS;SEEDS;SEED_TOOL;SEED_SCRIPT;OPTIONS")
  # SEED_TOOL may repeat: each one starts a command of its own.
  set(seed_commands "")
  set(in_tool OFF)
  foreach(word IN LISTS ARGN)
    if(word STREQUAL "SEED_TOOL")
      set(in_tool ON)
      set(next_is_tool ON)
      string(APPEND seed_commands "\n")
    elseif(word MATCHES "^(SOURCES|LIBS|SEEDS|SEED_SCRIPT|DICT|OPTIONS|DVDS)$")
      set(in_tool OFF)
    elseif(in_tool AND next_is_tool)
      add_dependencies(fuzz_targets ${word})
      string(APPEND seed_commands "'$<TARGET_FILE:${word}>'")
      set(next_is_tool OFF)
    elseif(in_tool)
      string(APPEND seed_commands " '${word}'")
    endif()
  endforeach()
  if(ARG_SEED_SCRIPT)
    string(APPEND seed_commands "\nsh")
    foreach(word IN LISTS ARG_SEED_SCRIPT)
      string(APPEND seed_commands " '${word}'")
    endforeach()
  endif()
  add_executable(${name} ${ARG_SOURCES} "${PROJECT_SOURCE_DIR}/tests/support/fuzz_scratch.cpp")
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests" AUTOMOC OFF)
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}")
  target_compile_options(${name} PRIVATE ${kv_fuzz_flags})
  target_link_options(${name} PRIVATE ${kv_fuzz_flags})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  add_dependencies(fuzz_targets ${name})

  # The description tools/fuzz-campaign reads (shell assignments), and the
  # seed commands, one a line.
  set(seeds "")
  foreach(folder IN LISTS ARG_SEEDS)
    get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    string(APPEND seeds " '${folder}'")
  endforeach()
  set(dict "")
  if(ARG_DICT)
    get_filename_component(dict "${ARG_DICT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  string(REPLACE ";" " " options "${ARG_OPTIONS}")
  file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/fuzzing/${name}.target" CONTENT
"binary='$<TARGET_FILE:${name}>'
seeds=(${seeds} )
dict='${dict}'
options='${options}'
sample_dvds='${KV_SAMPLE_DVD_DIR}'
")
  file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/fuzzing/${name}.seeds" CONTENT "${seed_commands}\n")

  add_test(NAME ${name}_smoke
           COMMAND "${PROJECT_SOURCE_DIR}/tools/fuzz-campaign" --build "${CMAKE_BINARY_DIR}"
                   --seconds ${KV_FUZZ_SMOKE_SECONDS} --no-build --quiet ${name})
  set_tests_properties(${name}_smoke PROPERTIES LABELS fuzz TIMEOUT 600)
  if(ARG_DVDS)
    set_tests_properties(${name}_smoke PROPERTIES FIXTURES_REQUIRED sample_dvds)
  endif()
endfunction()
