#include "tests/support/fuzz_scratch.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kv_test {
namespace {

namespace fs = std::filesystem;

// Leaked on purpose: it must outlive the static objects the exit destroys.
std::string* g_scratch = nullptr;

void RemoveScratch() {
  std::error_code ignored;
  fs::remove_all(*g_scratch, ignored);
}

}  // namespace

const std::string& FuzzScratchFolder(const char* prefix) {
  if (!g_scratch) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string name = std::string(base) + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(name.data())) std::abort();
    g_scratch = new std::string(name);
    std::atexit(RemoveScratch);
  }
  return *g_scratch;
}

void PutFuzzFile(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !written) std::abort();
}

void ClearFuzzFolder(const std::string& folder) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
    fs::remove_all(entry.path(), error);
}

std::vector<std::string> FuzzFolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kv_test
