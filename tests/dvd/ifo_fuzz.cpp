// libFuzzer target: arbitrary bytes as a title set information file.
#include <cstddef>
#include <cstdint>

#include "tests/dvd/ifo_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!kv_test::AskEveryIfoQuestion(data, size)) __builtin_trap();
  return 0;
}
