# Helpers shared by the subsystem folders.

# A subsystem library: static, includes written from the repository root.
function(kv_subsystem_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
endfunction()

# A component whose file name is fixed by the scripts and copies that name it
# ("qmvideo.dll", "Decomb.dll"): a shared object under exactly that name.
function(kv_named_shared_object target file_name)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME "${file_name}"
    SUFFIX ""
    NO_SONAME OFF)
endfunction()

# Adds targets to the program folder that ./run builds, and to the program
# folder of an installed copy, in the same sub-folder ("helix/producer").
function(kv_program_folder_part)
  add_dependencies(program_folder ${ARGN})
  foreach(target IN LISTS ARGN)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      get_target_property(folder ${target} RUNTIME_OUTPUT_DIRECTORY)
    else()
      get_target_property(folder ${target} LIBRARY_OUTPUT_DIRECTORY)
    endif()
    file(RELATIVE_PATH part "${KV_PROGRAM_FOLDER}" "${folder}")
    # A part in a sub-folder finds the program folder's libraries (libtessmar.so,
    # qmvideo.dll) from where it lies in an installed copy too.
    if(part)
      file(RELATIVE_PATH back "${folder}" "${KV_PROGRAM_FOLDER}")
      set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN;$ORIGIN/${back}")
    endif()
    install(TARGETS ${target}
            RUNTIME DESTINATION "${KV_INSTALL_PROGRAM_DIR}/${part}"
            LIBRARY DESTINATION "${KV_INSTALL_PROGRAM_DIR}/${part}")
  endforeach()
endfunction()
