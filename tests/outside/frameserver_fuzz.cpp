// libFuzzer target: arbitrary script text parsed and evaluated with the
// frameserver's own functions only (no plug-ins, no start-up files), and
// the resulting clip's first and last frames and some sound pulled. The
// script's folder is a scratch folder, so that the files a script writes
// (WriteFileStart, as every job's script does) land there.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "outside/frameserver/interpreter.h"
#include "tests/support/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  kvfs::InterpreterOptions options;
  options.allow_plugins = false;
  options.folder = kv_test::FuzzScratchFolder("frameserver-fuzz");
  try {
    kvfs::Program program = kvfs::Parse(text);
    kvfs::Interpreter interpreter(options);
    kvfs::Value v = interpreter.Run(program);
    if (v.type != kvfs::ValueType::Clip || !v.clip) return 0;
    const kvfs_clip_info& info = v.clip->Info();
    if (v.clip->HasVideo() && int64_t{info.width} * info.height <= (1 << 20)) {
      v.clip->GetFrame(0);
      v.clip->GetFrame(info.frame_count - 1);
    }
    if (v.clip->HasAudio()) {
      std::vector<float> samples(static_cast<size_t>(1024) * info.channels);
      v.clip->GetAudio(info.sample_count / 2, 1024, samples.data());
    }
  } catch (const std::exception&) {
    // Faulty scripts are refused with an error; that is the point.
  }
  return 0;
}
