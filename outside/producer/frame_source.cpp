#include "outside/producer/frame_source.h"

#include "outside/producer/thread_priority.h"

#include <cstring>

extern "C" {
#include <libavutil/mathematics.h>
#include <libswscale/swscale.h>
}

namespace producer {
namespace {

// Frames read ahead of the encoder.
constexpr size_t kReadAhead = 6;

}  // namespace

SourceFrame::SourceFrame(SourceFrame&& other) noexcept
    : number(other.number), picture(other.picture) {
  other.picture = nullptr;
}

SourceFrame& SourceFrame::operator=(SourceFrame&& other) noexcept {
  if (this != &other) {
    av_frame_free(&picture);
    number = other.number;
    picture = other.picture;
    other.picture = nullptr;
  }
  return *this;
}

SourceFrame::~SourceFrame() {
  av_frame_free(&picture);
}

int64_t FirstSampleOfFrame(const kvfs_clip_info& info, int64_t n) {
  return av_rescale(n, static_cast<int64_t>(info.audio_rate) * info.fps_denominator,
                    info.fps_numerator);
}

FrameSource::FrameSource(kv_video_file::VideoFile& clip, int output_width, int output_height,
                         int64_t first, int64_t end)
    : clip_(clip), width_(output_width), height_(output_height), first_(first), end_(end) {
  worker_ = std::thread([this] { Run(); });
}

FrameSource::~FrameSource() {
  stop_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
  }
  worker_.join();
  sws_freeContext(scaler_);
}

bool FrameSource::Next(SourceFrame* frame, std::string* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
  if (ready_.empty()) {
    if (error) *error = error_;
    return false;
  }
  *frame = std::move(ready_.front());
  ready_.pop_front();
  changed_.notify_all();
  return true;
}

void FrameSource::Run() {
  TakeProcessPriority();
  for (int64_t n = first_; n < end_ && !stop_; ++n) {
    SourceFrame frame;
    std::string error;
    const bool ok = Read(n, &frame, &error);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ok) {
      error_ = error;
      break;
    }
    changed_.wait(lock, [this] { return ready_.size() < kReadAhead || stop_; });
    ready_.push_back(std::move(frame));
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  changed_.notify_all();
}

bool FrameSource::Read(int64_t n, SourceFrame* frame, std::string* error) {
  const kvfs_frame* served = clip_.Frame(n);
  if (!served) {
    *error = "frame " + std::to_string(n) + " of the input: " + clip_.Error();
    return false;
  }
  frame->number = n;
  frame->picture = av_frame_alloc();
  AVFrame* picture = frame->picture;
  if (picture) {
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width_;
    picture->height = height_;
  }
  if (!picture || av_frame_get_buffer(picture, 32) < 0) {
    *error = "out of memory for a frame";
    return false;
  }
  const bool planar = served->pixel_format == KVFS_PIXEL_I420;
  if (planar && served->width == width_ && served->height == height_) {
    for (int p = 0; p < 3; ++p) {
      const int rows = p == 0 ? height_ : (height_ + 1) / 2;
      const int bytes = p == 0 ? width_ : (width_ + 1) / 2;
      for (int y = 0; y < rows; ++y)
        std::memcpy(picture->data[p] + static_cast<ptrdiff_t>(y) * picture->linesize[p],
                    served->data[p] + static_cast<ptrdiff_t>(y) * served->pitch[p],
                    static_cast<size_t>(bytes));
    }
  } else {
    const AVPixelFormat from = planar ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_BGR24;
    scaler_ = sws_getCachedContext(scaler_, served->width, served->height, from, width_, height_,
                                   AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scaler_) {
      *error = "cannot convert the input's pictures";
      return false;
    }
    const uint8_t* source[4] = {served->data[0], served->data[1], served->data[2], nullptr};
    const int pitch[4] = {served->pitch[0], served->pitch[1], served->pitch[2], 0};
    sws_scale(scaler_, source, pitch, 0, served->height, picture->data, picture->linesize);
  }
  return true;
}

}  // namespace producer
