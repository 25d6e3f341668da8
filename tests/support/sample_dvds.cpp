#include "tests/support/sample_dvds.h"

#include <cstdlib>

namespace kv_test {

std::string SampleDvdRoot() {
  if (const char* dir = std::getenv("KV_SAMPLE_DVD_DIR"); dir && *dir) return dir;
  return KV_SAMPLE_DVD_DIR;
}

std::string SampleVideoTs(const std::string& name) {
  return SampleDvdRoot() + "/" + name + "/VIDEO_TS";
}

}  // namespace kv_test
