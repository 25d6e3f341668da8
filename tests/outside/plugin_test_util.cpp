#include "tests/outside/plugin_test_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>

#include "app/frameserver_install.h"
#include "outside/frameserver/video_file.h"
#include "platform/folders.h"
#include "platform/registry_store.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace kv_test {

bool PreparePluginTitle(const std::string& folder, const std::string& disc, int vts, int pgc,
                        PluginTitle* title) {
  char name[64];
  std::snprintf(name, sizeof name, "vts%02d_pgc%02d_a0", vts, pgc);
  title->folder = folder;
  title->key = name;
  std::snprintf(name, sizeof name, "/vts%02d", vts);
  const std::string vts_base = folder + name;
  if (IndexAndWait(SampleVobs(disc, vts), vts_base, true, true, &title->status) != 0 ||
      !title->status.finished)
    return false;
  std::snprintf(name, sizeof name, "/VTS_%02d_0.IFO", vts);
  if (qmRebuild(vts_base.c_str(), (SampleVideoTs(disc) + name).c_str(),
                (folder + "/" + title->key).c_str(), 1, 1, 1, pgc, 0) != 1)
    return false;
  // The job writer names each sub-picture stream file after the title.
  for (int n = 0; n < 32; ++n) {
    const std::string from = vts_base + "_st" + std::to_string(n) + ".sub";
    if (title->status.subpicturePresent[n] &&
        std::rename(from.c_str(), title->Path("_st" + std::to_string(n) + ".sub").c_str()) != 0)
      return false;
  }
  return true;
}

bool InstallFrameserver() {
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  app::FrameserverInstallation installation(*store, platform::SystemFolder());
  return installation.InstallFrameserver(KV_PROGRAM_FOLDER);
}

ServedClip Serve(const std::string& script, Pictures pictures, bool sound, const EachFrame& each) {
  ServedClip clip;
  auto file = kv_video_file::VideoFile::Open(script, &clip.error);
  if (!file) return clip;
  const kvfs_clip_info& info = file->Info();
  clip.width = info.width;
  clip.height = info.height;
  clip.pixel_format = info.pixel_format;
  clip.fps_numerator = info.fps_numerator;
  clip.fps_denominator = info.fps_denominator;
  clip.frames = info.frame_count;
  clip.audio_rate = info.audio_rate;
  clip.channels = info.channels;
  clip.samples = info.sample_count;
  for (int64_t n = 0; (pictures != Pictures::kNone || each) && n < info.frame_count; ++n) {
    const kvfs_frame* f = file->Frame(n);
    if (!f) {
      clip.error = "frame " + std::to_string(n) + ": " + file->Error();
      return clip;
    }
    int64_t sum = 0;
    for (int y = 0; y < f->height; ++y)
      for (int x = 0; x < f->width; ++x)
        sum += f->data[0][static_cast<ptrdiff_t>(y) * f->pitch[0] + x];
    clip.mean_luma.push_back(static_cast<double>(sum) /
                             (static_cast<double>(f->width) * f->height));
    if (pictures != Pictures::kAll && !each) continue;
    std::string planes;
    for (int p = 0; p < (f->pixel_format == KVFS_PIXEL_I420 ? 3 : 1); ++p) {
      const int width = f->pixel_format == KVFS_PIXEL_BGR24 ? f->width * 3
                        : p == 0                            ? f->width
                                                            : (f->width + 1) / 2;
      const int rows = p == 0 ? f->height : (f->height + 1) / 2;
      for (int y = 0; y < rows; ++y)
        planes.append(
            reinterpret_cast<const char*>(f->data[p]) + static_cast<ptrdiff_t>(y) * f->pitch[p],
            static_cast<size_t>(width));
    }
    if (each)
      each(n, planes);
    else
      clip.frame.push_back(std::move(planes));
  }
  if (sound && info.audio_rate > 0) {
    clip.sound.resize(static_cast<size_t>(info.sample_count) * info.channels);
    const int64_t chunk = 6000;  // not a multiple of any frame length
    for (int64_t at = 0; at < info.sample_count; at += chunk) {
      if (!file->Audio(at, std::min(chunk, info.sample_count - at), KVFS_SAMPLE_FLOAT,
                       clip.sound.data() + at * info.channels)) {
        clip.error = "sound at " + std::to_string(at) + ": " + file->Error();
        return clip;
      }
    }
  }
  return clip;
}

std::vector<float> FfmpegSamples(const std::string& input_args, const std::string& filter) {
  CommandResult r = RunCommand("ffmpeg -nostdin -v error " + input_args +
                               (filter.empty() ? "" : " -af " + Quote(filter)) + " -f f32le -");
  std::vector<float> samples(r.out.size() / sizeof(float));
  std::memcpy(samples.data(), r.out.data(), samples.size() * sizeof(float));
  return samples;
}

bool FfmpegFramesToFile(const std::string& input_args, const std::string& graph,
                        const std::string& raw) {
  const std::string map =
      graph.empty() ? " -map 0:v:0" : " -filter_complex " + Quote(graph) + " -map '[out]'";
  return RunCommand("ffmpeg -nostdin -v error -y " + input_args + map +
                    " -fps_mode passthrough -pix_fmt yuv420p -f rawvideo " + Quote(raw))
             .exit_code == 0;
}

RawFrames::RawFrames(const std::string& path, int width, int height)
    : path_(path),
      frame_bytes_(static_cast<size_t>(width) * height +
                   2 * static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2)) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  count_ = in ? static_cast<int64_t>(in.tellg()) / static_cast<int64_t>(frame_bytes_) : 0;
}

std::string RawFrames::Frame(int64_t n) const {
  if (n < 0 || n >= count_) return "";
  std::ifstream in(path_, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(n * static_cast<int64_t>(frame_bytes_)));
  std::string frame(frame_bytes_, '\0');
  in.read(frame.data(), static_cast<std::streamsize>(frame.size()));
  return frame;
}

bool WriteMapBytes(const std::string& map_path, const std::string& out) {
  const std::string bytes = ConcatRanges(map_path, 0, 1, 2, 3);
  if (bytes.empty()) return false;
  WriteFile(out, bytes);
  return true;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t size) {
  double sum = 0;
  for (size_t i = 0; i < size; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(size) / sum);
}

}  // namespace kv_test
