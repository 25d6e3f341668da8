// libFuzzer target for VSFilter.dll's reading of a VobSub index and its
// stream file: damaged indexes, packs and sub-picture units, decoded and
// drawn. Input: one choice byte (picture size, start time), the index text,
// a NUL byte and the ".sub" file's bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "outside/vsfilter/sub_stream.h"
#include "outside/vsfilter/subtitle_track.h"
#include "tests/support/fuzz_scratch.h"

namespace {

const std::string& Folder() {
  return kv_test::FuzzScratchFolder("vobsub-fuzz");
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
  const std::string stream = nul == std::string::npos ? "" : input.substr(nul + 1);
  kv_test::PutFuzzFile(Folder() + "/t_st0.idx", input.substr(0, nul));
  kv_test::PutFuzzFile(Folder() + "/t_st0.sub", stream);

  uint32_t pts = 0;
  vsfilter::PictureStartTime(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), &pts);
  // The index's own picture size, or a resized one.
  const int width = (choice & 1) ? 352 : 720, height = (choice & 2) ? 240 : 480;
  std::string error;
  auto track = vsfilter::SubtitleTrack::Open(Folder() + "/t_st0.idx", (choice >> 2) * 1000u, width,
                                             height, &error);
  if (!track) return 0;
  std::vector<uint8_t> luma(static_cast<size_t>(width) * height), cb(luma.size() / 4),
      cr(luma.size() / 4);
  uint8_t* const planes[3] = {luma.data(), cb.data(), cr.data()};
  const int32_t pitches[3] = {width, width / 2, width / 2};
  for (int64_t t = -90000; t < 90000 * 20; t += 45000) {
    const vsfilter::Shown* shown = track->At(t);
    if (!shown) continue;
    for (const vsfilter::Bitmap& b : shown->bitmaps)
      vsfilter::Draw(b, planes, pitches, width, height);
  }
  return 0;
}
