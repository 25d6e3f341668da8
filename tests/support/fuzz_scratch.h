#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv_test {

// The folder a fuzz target writes its input's files into: made at the first
// call under /dev/shm (a file system in memory, since it is written at every
// input) or /tmp, named after `prefix`, and removed with everything in it
// when the process ends. Later calls return the same folder.
const std::string& FuzzScratchFolder(const char* prefix);

// Writes `bytes` as the whole file `path`; aborts when it cannot, since a
// target that cannot write its input tests nothing.
void PutFuzzFile(const std::string& path, std::string_view bytes);

// Empties `folder` (sub-folders included), keeping the folder itself.
void ClearFuzzFolder(const std::string& folder);

// The names of the entries directly inside `folder`, sorted.
std::vector<std::string> FuzzFolderEntries(const std::string& folder);

}  // namespace kv_test
