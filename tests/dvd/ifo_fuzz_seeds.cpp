// Writes the seed images into the folder given as argument, as the starting
// corpus of the IFO fuzzer.
#include <cstdio>
#include <string>

#include "tests/dvd/ifo_image.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int n = 0;
  for (const std::vector<uint8_t>& seed : kv_test::SeedImages()) {
    std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++) + ".ifo";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 1;
    bool ok = std::fwrite(seed.data(), 1, seed.size(), file) == seed.size();
    if (std::fclose(file) != 0 || !ok) return 1;
  }
  return 0;
}
