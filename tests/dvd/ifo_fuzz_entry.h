#pragma once

#include <cstddef>
#include <cstdint>

namespace kv_test {

// Opens `data` as a title set information file and asks the reader every
// question it answers, touching every byte it hands out. Shared by the
// libFuzzer target and the corpus replay test. False when the answers
// contradict each other (a summary without its chain, counts above the
// maximums, more angles than cells).
bool AskEveryIfoQuestion(const uint8_t* data, size_t size);

}  // namespace kv_test
