#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "outside/frameserver/video_file.h"

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;

namespace producer {

// One frame of the clip: the picture as planar 4:2:0 at the output size.
struct SourceFrame {
  int64_t number = 0;
  AVFrame* picture = nullptr;  // owned

  SourceFrame() = default;
  SourceFrame(SourceFrame&& other) noexcept;
  SourceFrame& operator=(SourceFrame&& other) noexcept;
  ~SourceFrame();
};

// The first sample of frame n of a clip: frames and sound share one clock.
int64_t FirstSampleOfFrame(const kvfs_clip_info& info, int64_t n);

// Reads frames [first, end) of an opened clip on a worker thread, a few
// frames ahead of the encoder, so that serving the script and encoding run
// side by side. The clip is used by the worker alone until the source ends;
// a clip may serve several ranges in turn, in any order.
// Pictures that the frameserver serves planar are copied as they are;
// others are converted, and scaled when the output size differs.
class FrameSource {
 public:
  FrameSource(kv_video_file::VideoFile& clip, int output_width, int output_height, int64_t first,
              int64_t end);
  ~FrameSource();
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;

  // The next frame; false at the end or on a failure (then `error` is set).
  bool Next(SourceFrame* frame, std::string* error);

 private:
  void Run();
  bool Read(int64_t n, SourceFrame* frame, std::string* error);

  kv_video_file::VideoFile& clip_;
  const int width_;
  const int height_;
  const int64_t first_;
  const int64_t end_;
  SwsContext* scaler_ = nullptr;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<SourceFrame> ready_;
  bool finished_ = false;
  std::string error_;
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace producer
