// libFuzzer target for the audio source plug-ins' reading of a title's audio
// map and the stream it names: damaged maps, cut and garbled frames of every
// format. Input: one choice byte (format, channels, LPCM attributes), the
// map's text with "@STREAM@" standing for the stream file, a NUL byte and
// the stream file's bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "outside/qmaudio/audio_source.h"
#include "tests/support/fuzz_scratch.h"

namespace {

const std::string& Folder() {
  return kv_test::FuzzScratchFolder("qmaudio-fuzz");
}

}  // namespace

// Decoders report damage on the log; the fuzzer looks for crashes only.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t nul = input.find('\0');
  std::string map = input.substr(0, nul);
  const std::string stream = nul == std::string::npos ? "" : input.substr(nul + 1);
  const std::string stream_path = Folder() + "/a.bin";
  for (size_t at; (at = map.find("@STREAM@")) != std::string::npos;)
    map.replace(at, 8, stream_path);
  kv_test::PutFuzzFile(Folder() + "/a.vfm", map);
  kv_test::PutFuzzFile(stream_path, stream);

  qmaudio::AudioSettings settings;
  settings.codec = static_cast<qmaudio::Codec>(choice & 3);
  if (settings.codec == qmaudio::Codec::kLpcm) {
    settings.lpcm_bits = 16 + 4 * (((choice >> 2) & 3) % 3);
    settings.channels = 1 + ((choice >> 4) & 7);
    settings.lpcm_rate = (choice & 0x80) ? 96000 : 48000;
  } else {
    static const int kChannels[4] = {1, 2, 6, 2};
    settings.channels = kChannels[(choice >> 2) & 3];
  }
  std::string error;
  auto source = qmaudio::AudioSource::Open(Folder() + "/a.vfm", settings, &error);
  if (!source) return 0;
  const int64_t samples = source->SampleCount();
  if (samples <= 0) std::abort();  // a source always holds a frame
  // The start, a range across the middle, the end, and the start again.
  std::vector<float> out;
  const int64_t count = std::min<int64_t>(samples, 3000);
  for (int64_t start : {int64_t{0}, samples / 2 - count / 2, samples - count, int64_t{7}}) {
    start = std::clamp<int64_t>(start, 0, samples - count);
    out.assign(static_cast<size_t>(count * source->Channels()), 0.0f);
    source->Read(start, count, out.data(), &error);
  }
  return 0;
}
