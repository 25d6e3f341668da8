// Shared by the tests of the frameserver plug-ins: sample titles cut out
// with their sound and sub-pictures, the frameserver installed as the
// program installs it, scripts served through the video-file layer, and
// FFmpeg's output read back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tessmar/include/tessmar.h"

namespace kv_test {

// A title of a sample disc with every file a job folder holds for it:
// <folder>/vts<NN>_pgc<NN>_a0 .qmvi, .vfm, _at<n>.vfm, _st<n>.idx and the
// title set's _st<n>.sub under the title's name.
struct PluginTitle {
  std::string folder;
  std::string key;  // "vts01_pgc01_a0"
  TessmarStatus status{};
  std::string Path(const std::string& suffix) const { return folder + "/" + key + suffix; }
};
bool PreparePluginTitle(const std::string& folder, const std::string& disc, int vts, int pgc,
                        PluginTitle* title);

// Installs the frameserver from the program folder into the test's own
// registry store and system folder.
bool InstallFrameserver();

// A script served through the video-file layer.
struct ServedClip {
  std::string error;  // empty when the script opened
  int width = 0, height = 0, pixel_format = 0;
  uint32_t fps_numerator = 0, fps_denominator = 0;
  int64_t frames = 0;
  int audio_rate = 0, channels = 0;
  int64_t samples = 0;
  std::vector<float> sound;        // every sample, interleaved
  std::vector<double> mean_luma;   // of every frame
  std::vector<std::string> frame;  // each frame's planes without padding
};
enum class Pictures { kNone, kMeanLuma, kAll };
// Opens `script` and serves its frames (as asked) and its sound (when
// `sound` is set), in order. With `each`, the frames' planes are handed to
// it one by one instead of being kept.
using EachFrame = std::function<void(int64_t n, const std::string& planes)>;
ServedClip Serve(const std::string& script, Pictures pictures, bool sound,
                 const EachFrame& each = nullptr);

// FFmpeg's float samples (interleaved) for `input_args` with `filter`.
std::vector<float> FfmpegSamples(const std::string& input_args, const std::string& filter);
// FFmpeg's planar 4:2:0 frames of `input_args` (after the filter graph
// `graph`, whose output is labelled [out], when given), written to `raw`.
bool FfmpegFramesToFile(const std::string& input_args, const std::string& graph,
                        const std::string& raw);
// Frame n of such a file; empty beyond its end.
class RawFrames {
 public:
  RawFrames(const std::string& path, int width, int height);
  int64_t Count() const { return count_; }
  std::string Frame(int64_t n) const;

 private:
  std::string path_;
  size_t frame_bytes_;
  int64_t count_;
};

// The concatenation of a map's byte ranges, written to `out`.
bool WriteMapBytes(const std::string& map_path, const std::string& out);

// Peak signal-to-noise ratio of two 8-bit planes (infinity when equal).
double Psnr(const uint8_t* a, const uint8_t* b, size_t size);

}  // namespace kv_test
