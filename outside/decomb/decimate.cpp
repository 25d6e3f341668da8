#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <unordered_map>
#include <vector>

#include "outside/decomb/decomb.h"
#include "outside/decomb/fields.h"
#include "outside/plugin_support/host_clip.h"

namespace decomb {

namespace {

using plugin::Frame;
using plugin::Host;

class DecimateFilter : public plugin::Filter {
 public:
  DecimateFilter(kvfs_clip* clip, int cycle, int mode, double threshold)
      : source_(clip, static_cast<size_t>(cycle) + 3),
        cycle_(cycle),
        mode_(mode),
        threshold_(threshold) {}

  plugin::Source& Input() override { return source_; }

  Frame Make(int64_t j, std::string* error) override {
    if (mode_ == 1) return KeepingCount(j, error);
    const int64_t c = j / (cycle_ - 1);
    const int i = static_cast<int>(j % (cycle_ - 1));
    const Cycle* cycle = Of(c, error);
    if (!cycle) return Frame();
    const int64_t first = c * cycle_;
    if (mode_ == 3 && !cycle->film && cycle->length > 1) {
      // The cycle's frames resampled to one fewer: output i shows the time
      // i × length / (length - 1) of the cycle.
      const double t = static_cast<double>(i) * cycle->length / (cycle->length - 1);
      const int a = static_cast<int>(t);
      return Blended(first + a, first + a + 1, t - a, error);
    }
    return source_.Get(first + (i < cycle->drop ? i : i + 1), error);
  }

 private:
  struct Cycle {
    int length = 0;
    int drop = 0;       // the frame most like its predecessor
    bool film = false;  // it is a duplicate
  };

  // Mode 1: frame n itself, or for a film duplicate the blend of its
  // neighbours.
  Frame KeepingCount(int64_t n, std::string* error) {
    const int64_t c = n / cycle_;
    const Cycle* cycle = Of(c, error);
    if (!cycle) return Frame();
    if (!cycle->film || n != c * cycle_ + cycle->drop) return source_.Get(n, error);
    return Blended(n - 1, n + 1, 0.5, error);
  }

  // a × (1 - weight) + b × weight, both clamped into the clip.
  Frame Blended(int64_t a, int64_t b, double weight, std::string* error) {
    Frame fa = source_.Get(a, error);
    if (!fa || weight == 0) return fa;
    Frame fb = source_.Get(b, error);
    if (!fb) return fb;
    Frame out = plugin::NewFrameLike(fa.get());
    if (!out) {
      *error = "out of memory";
      return out;
    }
    Blend(fa.get(), fb.get(), weight, out.get());
    return out;
  }

  const Cycle* Of(int64_t c, std::string* error) {
    auto it = cycles_.find(c);
    if (it != cycles_.end()) return &it->second;
    const int64_t first = c * cycle_;
    Cycle cycle;
    cycle.length = static_cast<int>(std::min<int64_t>(cycle_, source_.Info().frame_count - first));
    Frame before = first > 0 ? source_.Get(first - 1, error) : Frame();
    if (first > 0 && !before) return nullptr;
    double least = std::numeric_limits<double>::infinity();
    double least_block = std::numeric_limits<double>::infinity();
    for (int k = 0; k < cycle.length; ++k) {
      Frame f = source_.Get(first + k, error);
      if (!f) return nullptr;
      // The title's first frame has nothing before it and always stays.
      if (before) {
        const Difference d = Compare(before.get(), f.get());
        if (d.mean < least) {
          least = d.mean;
          least_block = d.block_max;
          cycle.drop = k;
        }
      }
      before = f;
    }
    if (std::isinf(least)) cycle.drop = cycle.length - 1;
    cycle.film = least_block < threshold_;
    if (cycles_.size() > 4096) cycles_.clear();
    return &(cycles_[c] = cycle);
  }

  plugin::Source source_;
  int cycle_;
  int mode_;
  double threshold_;
  std::unordered_map<int64_t, Cycle> cycles_;
};

}  // namespace

void Decimate(kvfs_call* call, void*) {
  const kvfs_host* host = Host();
  kvfs_clip* clip = host->arg_clip(call, 0);
  kvfs_clip_info info;
  host->clip_info(clip, &info);
  if (info.pixel_format != KVFS_PIXEL_I420 || info.frame_count < 1)
    return host->fail(call, "the clip must have a YV12 picture");
  const int64_t cycle = host->arg_int(call, 1, 5);
  const int64_t mode = host->arg_int(call, 2, 0);
  const double threshold = host->arg_float(call, 3, 0);
  if (cycle < 2 || cycle > 25) return host->fail(call, "cycle must be from 2 to 25");
  if (mode < 0 || mode > 3) return host->fail(call, "mode must be from 0 to 3");
  if (!(threshold >= 0) || threshold > 100)
    return host->fail(call, "threshold must be from 0 to 100");
  kvfs_clip_info out = info;
  if (mode != 1) {
    out.frame_count = info.frame_count * (cycle - 1) / cycle;
    if (out.frame_count < 1) return host->fail(call, "the clip is shorter than one cycle");
    uint64_t num = static_cast<uint64_t>(info.fps_numerator) * static_cast<uint64_t>(cycle - 1);
    uint64_t den = static_cast<uint64_t>(info.fps_denominator) * static_cast<uint64_t>(cycle);
    const uint64_t g = std::gcd(num, den);
    if (g > 0) {
      num /= g;
      den /= g;
    }
    if (num > UINT32_MAX || den > UINT32_MAX) return host->fail(call, "the frame rate overflows");
    out.fps_numerator = static_cast<uint32_t>(num);
    out.fps_denominator = static_cast<uint32_t>(den);
  }
  plugin::ReturnFilter(call, out,
                       std::make_unique<DecimateFilter>(clip, static_cast<int>(cycle),
                                                        static_cast<int>(mode), threshold),
                       "Decimate");
}

}  // namespace decomb
