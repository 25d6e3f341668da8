// The three plain exports over one process-wide open video. The frameserver
// plug-in in the same library has decoders of its own and never touches it.
#include "outside/qmvideo/qmvideo.h"

#include <memory>
#include <mutex>

#include "outside/qmvideo/video_source.h"

namespace {

std::mutex g_lock;
std::unique_ptr<qmvideo::VideoSource> g_video;
QmVideoRecord g_record;

}  // namespace

extern "C" QmVideoRecord* openMPEG2Source(const char* path, unsigned char film_flag) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_video.reset();
  if (!path) return nullptr;
  g_video = qmvideo::VideoSource::Open(path, film_flag != 0);
  if (!g_video) return nullptr;
  g_record = g_video->Record();
  return &g_record;
}

extern "C" unsigned char* getRGBFrame(int32_t frame) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_video) return nullptr;
  return const_cast<unsigned char*>(g_video->Frame(frame));
}

extern "C" void closeVideo(void) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_video.reset();
}
