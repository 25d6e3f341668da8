#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "outside/frameserver/include/frameserver_plugin.h"

namespace kvfs {

// A failure while serving a frame or samples.
class ServeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Largest picture side the frameserver allocates.
constexpr int kMaxPictureSide = 8192;
// Sample counts and positions stay below this, so sums of them never
// overflow (2^50 samples are some 700 years at 48 kHz).
constexpr int64_t kMaxSamples = int64_t{1} << 50;

// Frames are kvfs_frame with a reference count behind them; the public part
// comes first so that the plug-in's pointer is the frame's.
struct FrameBlock {
  kvfs_frame pub;
  std::atomic<int> refs;
  void (*release)(void*);
  void* opaque;
  uint8_t* own;  // memory allocated by NewFrame
  size_t own_size;
};

kvfs_frame* RetainFrame(kvfs_frame* frame);
void ReleaseFrame(kvfs_frame* frame);
// See kvfs_host::frame_detach.
void DetachFrame(kvfs_frame* frame);

// A counted reference to a frame.
class FrameRef {
 public:
  FrameRef() = default;
  // Takes over one reference.
  static FrameRef Adopt(kvfs_frame* frame) {
    FrameRef r;
    r.f_ = frame;
    return r;
  }
  FrameRef(const FrameRef& o) : f_(o.f_ ? RetainFrame(o.f_) : nullptr) {}
  FrameRef(FrameRef&& o) noexcept : f_(o.f_) { o.f_ = nullptr; }
  FrameRef& operator=(FrameRef o) noexcept {
    std::swap(f_, o.f_);
    return *this;
  }
  ~FrameRef() {
    if (f_) ReleaseFrame(f_);
  }
  kvfs_frame* get() const { return f_; }
  kvfs_frame* operator->() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }
  // Hands the reference over.
  kvfs_frame* Release() {
    kvfs_frame* f = f_;
    f_ = nullptr;
    return f;
  }

 private:
  kvfs_frame* f_ = nullptr;
};

// Bytes per row and rows of plane p of a picture, 0 rows for no plane.
int PlaneWidthBytes(int pixel_format, int width, int plane);
int PlaneRows(int pixel_format, int height, int plane);
int PlaneCount(int pixel_format);

// A writable frame with 32-byte aligned rows; null for a bad size or format.
FrameRef NewFrame(int width, int height, int pixel_format);
FrameRef WrapFrame(int width, int height, int pixel_format, uint8_t* const data[3],
                   const int32_t pitch[3], void (*release)(void*), void* opaque);

// A clip: a picture sequence and/or a sound, pulled frame by frame and sample
// range by sample range from the clips it was made from.
class Clip {
 public:
  explicit Clip(const kvfs_clip_info& info) : info_(info) {}
  virtual ~Clip() = default;
  Clip(const Clip&) = delete;
  Clip& operator=(const Clip&) = delete;

  const kvfs_clip_info& Info() const { return info_; }
  bool HasVideo() const { return info_.pixel_format != KVFS_PIXEL_NONE && info_.frame_count > 0; }
  bool HasAudio() const { return info_.audio_rate > 0 && info_.channels > 0; }

  // Frame n clamped into the clip; throws ServeError.
  FrameRef GetFrame(int64_t n);
  // Samples [start, start + count) interleaved; silence outside the sound.
  void GetAudio(int64_t start, int64_t count, float* out);

  // The clips this one pulls from, for the start walk.
  virtual std::vector<std::shared_ptr<Clip>> Children() const { return {}; }
  // Called once when the script's clip is opened for serving.
  virtual void Start() {}

  // Steps from this clip down to its deepest source (1 for a source);
  // frames are pulled recursively, so the interpreter bounds it.
  int Depth() const { return depth_; }
  void SetDepth(int depth) { depth_ = depth; }

 protected:
  // n within [0, frame_count).
  virtual FrameRef Frame(int64_t n) = 0;
  // A range within [0, sample_count); the clip has sound.
  virtual void Audio(int64_t start, int64_t count, float* out);

  kvfs_clip_info info_;

 private:
  int depth_ = 1;
};

using ClipPtr = std::shared_ptr<Clip>;

// A clip that passes everything on from one child; filters override what
// they change.
class ChildClip : public Clip {
 public:
  ChildClip(ClipPtr child, const kvfs_clip_info& info) : Clip(info), child_(std::move(child)) {}
  std::vector<ClipPtr> Children() const override { return {child_}; }

 protected:
  FrameRef Frame(int64_t n) override { return child_->GetFrame(n); }
  void Audio(int64_t start, int64_t count, float* out) override {
    child_->GetAudio(start, count, out);
  }
  ClipPtr child_;
};

// Calls Start on every clip reachable from `root`, children first, each
// once.
void StartClips(const ClipPtr& root);

// Samples of a clip that belong to frames [0, frames): rate * frames / fps.
int64_t SamplesForFrames(const kvfs_clip_info& info, int64_t frames);

}  // namespace kvfs
