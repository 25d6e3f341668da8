# Tests of the frameserver: the script language and built-in functions on
# the interpreter itself; plug-in loading and serving through avisynth.dll.
kv_add_test(frameserver_script_tests
  SOURCES frameserver_script_test.cpp frameserver_builtins_test.cpp
  LIBS kv_frameserver_core)
set_target_properties(frameserver_script_tests PROPERTIES AUTOMOC OFF)
