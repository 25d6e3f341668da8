// libFuzzer target: arbitrary bytes as the VOB files of a title set, through
// a whole index run (probe, then the index run with audio and sub-pictures
// wanted and a status block attached). Every file it writes must be one of
// the run's own names under the output base.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tessmar/index_run.h"
#include "tests/support/fuzz_scratch.h"

namespace {

const std::string& Folder() {
  return kv_test::FuzzScratchFolder("tessmar-fuzz");
}

bool AllowedName(const char* name) {
  if (!std::strcmp(name, "f.d2v") || !std::strcmp(name, "f.qmci")) return true;
  int n = -1;
  char ext[8] = {};
  if (std::sscanf(name, "f_at%d.%5s", &n, ext) == 2)
    return n >= 0 && n < 8 && !std::strcmp(ext, "qmai") &&
           std::string(name) == "f_at" + std::to_string(n) + ".qmai";
  if (std::sscanf(name, "f_st%d.%5s", &n, ext) == 2)
    return n >= 0 && n < 32 && (!std::strcmp(ext, "qmsi") || !std::strcmp(ext, "sub")) &&
           std::string(name) == "f_st" + std::to_string(n) + "." + ext;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte splits the rest into one to three files.
  std::vector<tessmar::InputFile> inputs;
  size_t files = size > 0 ? 1 + data[0] % 3 : 1;
  const uint8_t* p = size > 0 ? data + 1 : data;
  size_t left = size > 0 ? size - 1 : 0;
  for (size_t i = 0; i < files; ++i) {
    size_t part =
        i + 1 == files ? left : left / (files - i) + (i == 0 && size > 1 ? data[1] % 7 : 0);
    if (part > left) part = left;
    tessmar::InputFile in;
    in.path = "/fuzz/VTS_01_" + std::to_string(i + 1) + ".VOB";
    in.memory = p;
    in.size = static_cast<int64_t>(part);
    inputs.push_back(in);
    p += part;
    left -= part;
  }
  tessmar::IndexRun run(std::move(inputs), Folder() + "/f", true, true);
  run.Probe();
  TessmarStatus status{};
  if (run.OpenOutputs(&status)) run.IndexAll();
  // `running` is the worker's to clear, after the run is gone.
  if (run.FinalStatus() != &status || status.ended != 1) std::abort();

  for (const std::string& name : kv_test::FuzzFolderEntries(Folder())) {
    if (!AllowedName(name.c_str())) {
      std::fprintf(stderr, "unexpected output %s\n", name.c_str());
      std::abort();
    }
  }
  return 0;
}
