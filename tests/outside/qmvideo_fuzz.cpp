// libFuzzer target for qmvideo.dll: damaged video indexes and virtual file
// maps over the real sample VOBs. Input: the ".qmvi" text, a NUL byte, the
// ".vfm" text; "@DVD@" in the map stands for the sample disc folder
// (KV_SAMPLE_DVD_DIR). The first byte after the map, if any, picks the film
// flag and the frames asked for.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "outside/qmvideo/qmvideo.h"
#include "tests/support/fuzz_scratch.h"

namespace {

const std::string& Folder() {
  return kv_test::FuzzScratchFolder("qmvideo-fuzz");
}

std::string SampleRoot() {
  const char* root = std::getenv("KV_SAMPLE_DVD_DIR");
  return root ? root : "/nonexistent";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string index = input.substr(0, nul);
  std::string map = nul == std::string::npos ? "" : input.substr(nul + 1);
  uint8_t choice = 0;
  const size_t end = map.rfind('\0');
  if (end != std::string::npos) {
    if (end + 1 < map.size()) choice = static_cast<uint8_t>(map[end + 1]);
    map.resize(end);
  }
  for (size_t at; (at = map.find("@DVD@")) != std::string::npos;) map.replace(at, 5, SampleRoot());
  kv_test::PutFuzzFile(Folder() + "/f.qmvi", index);
  kv_test::PutFuzzFile(Folder() + "/f.vfm", map);

  const QmVideoRecord* r = openMPEG2Source((Folder() + "/f.qmvi").c_str(), choice & 1);
  if (r) {
    const int32_t n = r->frames;
    const size_t bytes = static_cast<size_t>(r->width) * r->height * 3;
    const int32_t picks[] = {0, n - 1, n / 2, (choice >> 1) % (n + 2) - 1, n / 2 + 1, n};
    for (int32_t p : picks) {
      const unsigned char* f = getRGBFrame(p);
      // Touch the first and the last byte: the frame must be whole.
      if (f && bytes && (f[0] + f[bytes - 1]) == 1000) std::abort();
    }
  }
  closeVideo();
  return 0;
}
