// qmvideo_fuzz_seeds <corpus-folder>: starting inputs for qmvideo_fuzz, the
// index and map of sample titles as tessmar writes them, with the sample
// disc folder written as "@DVD@".
#include <cstdio>
#include <string>

#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus-folder>\n", argv[0]);
    return 2;
  }
  kv_test::MakeFolders(argv[1]);
  kv_test::TempDir work("qmvideo-seeds");
  const std::string root = kv_test::SampleDvdRoot();
  int written = 0;
  for (const kv_test::SampleTitle& t :
       {kv_test::SampleTitle{"ntsc_film", 1, 1}, kv_test::SampleTitle{"pal_letterbox", 1, 2}}) {
    const std::string qmvi = kv_test::PrepareSampleTitle(work.Path(), t);
    if (qmvi.empty()) return 1;
    std::string index = kv_test::ReadFile(qmvi);
    std::string map = kv_test::ReadFile(qmvi.substr(0, qmvi.size() - 5) + ".vfm");
    // The harness writes the map as f.vfm beside f.qmvi.
    const size_t line = index.find('\n', index.find('\n') + 1);
    index.replace(line + 1, index.find('\r', line) - line - 1, "5 f.vfm");
    for (size_t at; (at = map.find(root)) != std::string::npos;)
      map.replace(at, root.size(), "@DVD@");
    for (char choice : {'\x00', '\x01', '\x2a'}) {
      std::string seed = index + '\0' + map + '\0' + choice;
      kv_test::WriteFile(std::string(argv[1]) + "/" + kv_test::TitleName(t) + "_" +
                             std::to_string(static_cast<int>(choice)),
                         seed);
      ++written;
    }
  }
  std::printf("%d seeds\n", written);
  return 0;
}
