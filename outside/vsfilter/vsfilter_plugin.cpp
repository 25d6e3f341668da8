// VSFilter.dll: VobSub(clip, "<title>_st<n>.idx") burns a title's DVD
// sub-pictures into its picture at the times the index gives.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "outside/plugin_support/host_clip.h"
#include "outside/vsfilter/sub_stream.h"
#include "outside/vsfilter/subtitle_track.h"
#include "tessmar/formats/virtual_file.h"
#include "tessmar/formats/virtual_file_map.h"

namespace vsfilter {

namespace {

using plugin::Frame;
using plugin::Host;

constexpr size_t kStartBytes = 64 * 1024;

// The index's times count from the title's first presentation time, which
// the title's own map ("<title>.vfm" beside "<title>_st<n>.idx") tells.
uint32_t TitleStartTime(const std::string& idx_path) {
  const size_t st = idx_path.rfind("_st");
  if (st == std::string::npos) return 0;
  FILE* f = std::fopen((idx_path.substr(0, st) + ".vfm").c_str(), "rb");
  if (!f) return 0;
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (64u << 20))
    text.append(buffer, n);
  std::fclose(f);
  tessmar::formats::VirtualFileMap map;
  tessmar::formats::VirtualFile file;
  if (!tessmar::formats::ParseVirtualFileMap(text, &map) || !file.Open(map)) return 0;
  std::vector<uint8_t> start(kStartBytes);
  start.resize(file.Read(0, start.data(), start.size()));
  uint32_t pts = 0;
  return PictureStartTime(start.data(), start.size(), &pts) ? pts : 0;
}

class VobSubFilter : public plugin::Filter {
 public:
  VobSubFilter(kvfs_clip* clip, std::unique_ptr<SubtitleTrack> track)
      : source_(clip, 1), track_(std::move(track)) {}

  plugin::Source& Input() override { return source_; }

  Frame Make(int64_t n, std::string* error) override {
    Frame in = source_.Get(n, error);
    if (!in) return in;
    const kvfs_clip_info& info = source_.Info();
    const int64_t t = static_cast<int64_t>(static_cast<__int128>(n) * 90000 * info.fps_denominator /
                                           info.fps_numerator);
    const Shown* shown = track_->At(t);
    if (!shown) return in;
    Frame out = plugin::NewFrameLike(in.get());
    if (!out) {
      *error = "out of memory";
      return out;
    }
    for (int p = 0; p < 3; ++p) {
      const int width = p == 0 ? in->width : (in->width + 1) / 2;
      const int rows = p == 0 ? in->height : (in->height + 1) / 2;
      for (int y = 0; y < rows; ++y)
        std::memcpy(out->data[p] + static_cast<ptrdiff_t>(y) * out->pitch[p],
                    in->data[p] + static_cast<ptrdiff_t>(y) * in->pitch[p],
                    static_cast<size_t>(width));
    }
    for (const Bitmap& b : shown->bitmaps) Draw(b, out->data, out->pitch, out->width, out->height);
    return out;
  }

 private:
  plugin::Source source_;
  std::unique_ptr<SubtitleTrack> track_;
};

void VobSub(kvfs_call* call, void*) {
  const kvfs_host* host = Host();
  kvfs_clip* clip = host->arg_clip(call, 0);
  kvfs_clip_info info;
  host->clip_info(clip, &info);
  if (info.pixel_format != KVFS_PIXEL_I420 || info.frame_count < 1 || info.fps_numerator == 0)
    return host->fail(call, "the clip must have a YV12 picture");
  const std::string path = host->resolve_path(call, host->arg_string(call, 1, ""));
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    const std::string why = "cannot find the VobSub index \"" + path + "\"";
    return host->fail(call, why.c_str());
  }
  std::string error;
  auto track = SubtitleTrack::Open(path, TitleStartTime(path), info.width, info.height, &error);
  if (!track) return host->fail(call, error.c_str());
  plugin::ReturnFilter(call, info, std::make_unique<VobSubFilter>(clip, std::move(track)),
                       "VobSub");
}

}  // namespace

}  // namespace vsfilter

extern "C" KVFS_PLUGIN_EXPORT int kvfs_register_plugin(const kvfs_host* host,
                                                       kvfs_registrar* registrar) {
  if (!host || host->version < KVFS_INTERFACE_VERSION) return -1;
  plugin::SetHost(host);
  return host->add_function(registrar, "VobSub", "clip clip, string filename", vsfilter::VobSub,
                            nullptr);
}
