#include "outside/plugin_support/host_clip.h"

#include <algorithm>
#include <cstdio>

#include "outside/frameserver/include/plugin_host_table.h"

namespace plugin {

namespace {

kvfs::PluginHostTable host;

struct FilterClip {
  std::unique_ptr<Filter> filter;
  const char* name;
};

kvfs_frame* GetFrame(void* self, int64_t n, char* error, size_t size) {
  auto* clip = static_cast<FilterClip*>(self);
  std::string why;
  Frame f = clip->filter->Make(n, &why);
  if (!f) std::snprintf(error, size, "%s: %s", clip->name, why.c_str());
  return f.Release();
}

int GetAudio(void* self, int64_t start, int64_t count, float* out, char* error, size_t size) {
  auto* clip = static_cast<FilterClip*>(self);
  return Host()->clip_get_audio(clip->filter->Input().Clip(), start, count, out, error, size);
}

void Destroy(void* self) {
  delete static_cast<FilterClip*>(self);
}

const kvfs_clip_ops kOps = {GetFrame, GetAudio, nullptr, Destroy};

}  // namespace

const kvfs_host* Host() {
  return host.Get();
}

void SetHost(const kvfs_host* h) {
  host.Set(h);
}

Frame NewFrameLike(const kvfs_frame* like) {
  return Frame::Adopt(host->frame_new(like->width, like->height, like->pixel_format));
}

Source::Source(kvfs_clip* clip, size_t cache) : clip_(host->clip_retain(clip)), cache_size_(cache) {
  host->clip_info(clip_, &info_);
}

Source::~Source() {
  cache_.clear();
  host->clip_release(clip_);
}

Frame Source::Get(int64_t n, std::string* error) {
  n = std::clamp<int64_t>(n, 0, std::max<int64_t>(info_.frame_count - 1, 0));
  for (auto it = cache_.rbegin(); it != cache_.rend(); ++it)
    if (it->first == n) return it->second;
  char why[512] = "";
  Frame f = Frame::Adopt(host->clip_get_frame(clip_, n, why, sizeof why));
  if (!f) {
    *error = why;
    return f;
  }
  if (cache_.size() >= cache_size_) cache_.pop_front();
  cache_.emplace_back(n, f);
  return f;
}

void ReturnFilter(kvfs_call* call, const kvfs_clip_info& info, std::unique_ptr<Filter> filter,
                  const char* name) {
  auto* clip = new FilterClip{std::move(filter), name};
  const bool has_sound = info.audio_rate > 0 && info.channels > 0;
  static const kvfs_clip_ops kSilentOps = {GetFrame, nullptr, nullptr, Destroy};
  host->return_clip(call, &info, has_sound ? &kOps : &kSilentOps, clip);
}

}  // namespace plugin
