#include "outside/frameserver/clip.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace kvfs {

namespace {

// Frame memory is kept for reuse: a serving loop asks for a frame of the
// same size again and again, and fresh large allocations cost page faults
// every time.
constexpr size_t kPoolSize = 16;
std::mutex pool_mutex;
std::vector<std::pair<size_t, uint8_t*>>& Pool() {
  static auto* pool = new std::vector<std::pair<size_t, uint8_t*>>();
  return *pool;
}

uint8_t* TakeBuffer(size_t bytes) {
  {
    std::lock_guard<std::mutex> lock(pool_mutex);
    auto& pool = Pool();
    for (size_t i = 0; i < pool.size(); ++i) {
      if (pool[i].first == bytes) {
        uint8_t* p = pool[i].second;
        pool[i] = pool.back();
        pool.pop_back();
        return p;
      }
    }
  }
  return static_cast<uint8_t*>(std::aligned_alloc(32, bytes));
}

void GiveBuffer(uint8_t* p, size_t bytes) {
  if (!p) return;
  {
    std::lock_guard<std::mutex> lock(pool_mutex);
    auto& pool = Pool();
    if (pool.size() < kPoolSize) {
      pool.emplace_back(bytes, p);
      return;
    }
  }
  std::free(p);
}

}  // namespace

kvfs_frame* RetainFrame(kvfs_frame* frame) {
  reinterpret_cast<FrameBlock*>(frame)->refs.fetch_add(1, std::memory_order_relaxed);
  return frame;
}

void ReleaseFrame(kvfs_frame* frame) {
  FrameBlock* block = reinterpret_cast<FrameBlock*>(frame);
  if (block->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (block->release) block->release(block->opaque);
  GiveBuffer(block->own, block->own_size);
  delete block;
}

void DetachFrame(kvfs_frame* frame) {
  FrameBlock* block = reinterpret_cast<FrameBlock*>(frame);
  if (block->own || block->refs.load(std::memory_order_acquire) <= 1) return;
  const int planes = PlaneCount(frame->pixel_format);
  size_t offsets[3] = {0, 0, 0};
  int pitches[3] = {0, 0, 0};
  size_t total = 0;
  for (int p = 0; p < planes; ++p) {
    pitches[p] = (PlaneWidthBytes(frame->pixel_format, frame->width, p) + 31) & ~31;
    offsets[p] = total;
    total += static_cast<size_t>(pitches[p]) * PlaneRows(frame->pixel_format, frame->height, p);
  }
  const size_t size = (total + 64 + 31) & ~size_t{31};
  uint8_t* own = TakeBuffer(size);
  if (!own) throw ServeError("out of memory for a frame");
  for (int p = 0; p < planes; ++p) {
    const int width = PlaneWidthBytes(frame->pixel_format, frame->width, p);
    for (int y = 0; y < PlaneRows(frame->pixel_format, frame->height, p); ++y)
      std::memcpy(own + offsets[p] + static_cast<size_t>(y) * pitches[p],
                  frame->data[p] + static_cast<ptrdiff_t>(y) * frame->pitch[p],
                  static_cast<size_t>(width));
    frame->data[p] = own + offsets[p];
    frame->pitch[p] = pitches[p];
  }
  if (block->release) block->release(block->opaque);
  block->release = nullptr;
  block->own = own;
  block->own_size = size;
}

int PlaneCount(int pixel_format) {
  switch (pixel_format) {
    case KVFS_PIXEL_I420:
      return 3;
    case KVFS_PIXEL_BGR24:
      return 1;
    default:
      return 0;
  }
}

int PlaneWidthBytes(int pixel_format, int width, int plane) {
  if (plane >= PlaneCount(pixel_format)) return 0;
  if (pixel_format == KVFS_PIXEL_BGR24) return width * 3;
  return plane == 0 ? width : (width + 1) / 2;
}

int PlaneRows(int pixel_format, int height, int plane) {
  if (plane >= PlaneCount(pixel_format)) return 0;
  if (pixel_format == KVFS_PIXEL_BGR24 || plane == 0) return height;
  return (height + 1) / 2;
}

namespace {

bool GoodSize(int width, int height, int pixel_format) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         PlaneCount(pixel_format) > 0;
}

}  // namespace

FrameRef NewFrame(int width, int height, int pixel_format) {
  if (!GoodSize(width, height, pixel_format)) return FrameRef();
  auto* block = new FrameBlock{};
  block->pub.width = width;
  block->pub.height = height;
  block->pub.pixel_format = pixel_format;
  size_t offsets[3] = {0, 0, 0};
  size_t total = 0;
  for (int p = 0; p < PlaneCount(pixel_format); ++p) {
    const int pitch = (PlaneWidthBytes(pixel_format, width, p) + 31) & ~31;
    block->pub.pitch[p] = pitch;
    offsets[p] = total;
    total += static_cast<size_t>(pitch) * PlaneRows(pixel_format, height, p);
  }
  // Room at the end: vector code in the scaler may read a little past a row.
  block->own_size = (total + 64 + 31) & ~size_t{31};
  block->own = TakeBuffer(block->own_size);
  if (!block->own) {
    delete block;
    return FrameRef();
  }
  for (int p = 0; p < PlaneCount(pixel_format); ++p) block->pub.data[p] = block->own + offsets[p];
  block->refs.store(1, std::memory_order_relaxed);
  return FrameRef::Adopt(&block->pub);
}

FrameRef WrapFrame(int width, int height, int pixel_format, uint8_t* const data[3],
                   const int32_t pitch[3], void (*release)(void*), void* opaque) {
  if (!GoodSize(width, height, pixel_format) || !data) {
    if (release) release(opaque);
    return FrameRef();
  }
  auto* block = new FrameBlock{};
  block->pub.width = width;
  block->pub.height = height;
  block->pub.pixel_format = pixel_format;
  for (int p = 0; p < PlaneCount(pixel_format); ++p) {
    block->pub.data[p] = data[p];
    block->pub.pitch[p] = pitch[p];
  }
  block->release = release;
  block->opaque = opaque;
  block->refs.store(1, std::memory_order_relaxed);
  return FrameRef::Adopt(&block->pub);
}

FrameRef Clip::GetFrame(int64_t n) {
  if (!HasVideo()) throw ServeError("the clip has no picture");
  n = std::clamp<int64_t>(n, 0, info_.frame_count - 1);
  FrameRef f = Frame(n);
  if (!f) throw ServeError("frame " + std::to_string(n) + " could not be made");
  return f;
}

void Clip::GetAudio(int64_t start, int64_t count, float* out) {
  if (count <= 0) return;
  if (count > kMaxSamples || start > kMaxSamples || start < -kMaxSamples)
    throw ServeError("samples asked for beyond any sound");
  const int channels = std::max(info_.channels, 1);
  if (!HasAudio()) {
    std::memset(out, 0, static_cast<size_t>(count) * channels * sizeof(float));
    return;
  }
  const int64_t end = start + count;
  const int64_t from = std::clamp<int64_t>(start, 0, info_.sample_count);
  const int64_t to = std::clamp<int64_t>(end, 0, info_.sample_count);
  if (from > start)
    std::memset(out, 0,
                static_cast<size_t>(std::min(from, end) - start) * channels * sizeof(float));
  if (to > from) Audio(from, to - from, out + (from - start) * channels);
  const int64_t tail_from = std::max(to, start);
  if (end > tail_from)
    std::memset(out + (tail_from - start) * channels, 0,
                static_cast<size_t>(end - tail_from) * channels * sizeof(float));
}

void Clip::Audio(int64_t, int64_t count, float* out) {
  std::memset(out, 0, static_cast<size_t>(count) * info_.channels * sizeof(float));
}

void StartClips(const ClipPtr& root) {
  std::set<Clip*> started;
  std::vector<std::pair<ClipPtr, bool>> stack{{root, false}};
  while (!stack.empty()) {
    auto [clip, children_done] = stack.back();
    stack.pop_back();
    if (!clip || started.count(clip.get())) continue;
    if (children_done) {
      started.insert(clip.get());
      clip->Start();
      continue;
    }
    stack.push_back({clip, true});
    auto children = clip->Children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, false});
  }
}

int64_t SamplesForFrames(const kvfs_clip_info& info, int64_t frames) {
  if (info.fps_numerator == 0) return 0;
  const __int128 v = static_cast<__int128>(frames) * info.audio_rate * info.fps_denominator;
  const __int128 samples = (v + info.fps_numerator / 2) / info.fps_numerator;
  return samples > kMaxSamples ? kMaxSamples : static_cast<int64_t>(samples);
}

}  // namespace kvfs
