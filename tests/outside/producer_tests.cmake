# Tests of the encoder stand-in: the job file reader, the rate control and
# the console lines on their own; whole encodings through the installed
# frameserver, started by the real encoder control.
kv_add_test(producer_encode_tests
  SOURCES producer_encode_test.cpp
  LIBS kv_app kv_queue kv_wizard kv_qmvideo_test_util qmvideo
  DVDS WIDGETS)
target_compile_definitions(producer_encode_tests PRIVATE KV_PROGRAM_FOLDER="${KV_PROGRAM_FOLDER}")
add_dependencies(producer_encode_tests kv_producer_program kv_avisynth kv_devil qmvideo)
