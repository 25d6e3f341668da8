#pragma once

namespace kv_test {

// Makes SQLite take its memory from free lists of this process that keep
// the blocks it frees, instead of one sanitizer allocation per call: the
// system's SQLite is built without its own small-block allocator, and the
// sanitizer's allocation, fill and quarantine of its thousands of small
// blocks per store operation cost most of a fuzz run. The bytes past each
// block's size and every free block stay poisoned, so that an overread or a
// use after free of SQLite's memory by instrumented code is still reported.
// SQLite is also set to one thread without locks, as a fuzz target runs it.
// Call before SQLite is initialised; aborts when SQLite refuses it.
void UseSqliteFuzzHeap();

}  // namespace kv_test
