#include "decoder/video_decoder.h"

#include <mutex>

#include "outside/qmvideo/qmvideo.h"

namespace decoder {

namespace {

// The preview, the preparation thread and the crop dialog take turns; the
// lock keeps the flag and the record consistent for whichever runs.
std::mutex g_lock;
bool g_open = false;
VideoInfo g_info;

void CloseLocked() {
  if (g_open) closeVideo();
  g_open = false;
  g_info = VideoInfo();
}

}  // namespace

bool FilmFlag(float film_share) {
  return static_cast<int>(film_share) >= 1;
}

bool OpenVideo(const std::string& path, bool film, VideoInfo* info) {
  std::lock_guard<std::mutex> lock(g_lock);
  CloseLocked();
  const QmVideoRecord* record = openMPEG2Source(path.c_str(), film ? 1 : 0);
  VideoInfo opened;
  if (record) opened = VideoInfo{record->width, record->height, record->frames};
  if (!record || opened.Width <= 0 || opened.Height <= 0 || opened.FrameCount <= 0) {
    if (record) closeVideo();
    if (info) *info = VideoInfo();
    return false;
  }
  g_open = true;
  g_info = opened;
  if (info) *info = opened;
  return true;
}

void CloseVideo() {
  std::lock_guard<std::mutex> lock(g_lock);
  CloseLocked();
}

bool VideoIsOpen() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_open;
}

VideoInfo OpenVideoInfo() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_info;
}

const uint8_t* GetFrame(int32_t frame) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_open || frame < 0 || frame >= g_info.FrameCount) return nullptr;
  return getRGBFrame(frame);
}

bool UseVideoAlone(const std::string& path, bool film,
                   const std::function<bool(const VideoInfo&, const FrameSource&)>& use) {
  std::lock_guard<std::mutex> lock(g_lock);
  CloseLocked();
  const QmVideoRecord* record = openMPEG2Source(path.c_str(), film ? 1 : 0);
  if (!record) return false;
  const VideoInfo info{record->width, record->height, record->frames};
  bool ok = info.Width > 0 && info.Height > 0 && info.FrameCount > 0;
  if (ok) {
    ok = use(info, [&info](int32_t frame) -> const uint8_t* {
      if (frame < 0 || frame >= info.FrameCount) return nullptr;
      return getRGBFrame(frame);
    });
  }
  closeVideo();
  return ok;
}

}  // namespace decoder
