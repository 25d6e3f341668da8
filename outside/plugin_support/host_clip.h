// What a picture filter plug-in needs around the frameserver's C host
// table: counted frames, a child clip with a small cache of its latest
// frames, and the glue that turns a filter object into a clip.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "outside/frameserver/include/frameserver_plugin.h"

namespace plugin {

// The host table, set by the plug-in's registration.
const kvfs_host* Host();
void SetHost(const kvfs_host* host);

// One counted reference to a frame.
class Frame {
 public:
  Frame() = default;
  static Frame Adopt(kvfs_frame* f) {
    Frame r;
    r.f_ = f;
    return r;
  }
  Frame(const Frame& o) : f_(o.f_ ? Host()->frame_retain(o.f_) : nullptr) {}
  Frame(Frame&& o) noexcept : f_(std::exchange(o.f_, nullptr)) {}
  Frame& operator=(Frame o) noexcept {
    std::swap(f_, o.f_);
    return *this;
  }
  ~Frame() {
    if (f_) Host()->frame_release(f_);
  }
  kvfs_frame* get() const { return f_; }
  kvfs_frame* operator->() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }
  kvfs_frame* Release() { return std::exchange(f_, nullptr); }

 private:
  kvfs_frame* f_ = nullptr;
};

// A new writable frame of the same size and format as `like`.
Frame NewFrameLike(const kvfs_frame* like);

// A clip a filter pulls from, keeping its latest frames.
class Source {
 public:
  Source(kvfs_clip* clip, size_t cache);
  ~Source();
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  const kvfs_clip_info& Info() const { return info_; }
  kvfs_clip* Clip() const { return clip_; }
  // Frame n clamped into the clip; empty with `error` set on failure.
  Frame Get(int64_t n, std::string* error);

 private:
  kvfs_clip* clip_;
  kvfs_clip_info info_{};
  size_t cache_size_;
  std::deque<std::pair<int64_t, Frame>> cache_;  // newest last
};

// A picture filter over one source: Make gives frame n (0 <= n < the
// filter's frame count) or an empty frame with `error` set.
class Filter {
 public:
  virtual ~Filter() = default;
  virtual Frame Make(int64_t n, std::string* error) = 0;
  // The sound, passed on from the source.
  virtual Source& Input() = 0;
};

// Returns `filter` as the call's result clip with `info`; `name` prefixes
// its errors.
void ReturnFilter(kvfs_call* call, const kvfs_clip_info& info, std::unique_ptr<Filter> filter,
                  const char* name);

}  // namespace plugin
