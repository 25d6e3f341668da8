#include <memory>
#include <unordered_map>

#include "outside/decomb/decomb.h"
#include "outside/decomb/fields.h"
#include "outside/plugin_support/host_clip.h"

namespace decomb {

namespace {

using plugin::Frame;
using plugin::Host;

enum Match { kCurrent = 0, kPrevious = 1, kNext = 2 };

class TelecideFilter : public plugin::Filter {
 public:
  TelecideFilter(kvfs_clip* clip, bool top_first, bool guided, int post)
      : source_(clip, 12), top_first_(top_first), guided_(guided), post_(post) {}

  plugin::Source& Input() override { return source_; }

  Frame Make(int64_t n, std::string* error) override {
    Frame cur = source_.Get(n, error);
    if (!cur) return cur;
    int match;
    Frame other;
    if (!Choose(n, &match, &other, error)) return Frame();
    Frame out;
    if (match == kCurrent) {
      out = cur;
    } else {
      out = plugin::NewFrameLike(cur.get());
      if (!out) return Fail("out of memory", error);
      if (top_first_)
        Weave(cur.get(), other.get(), out.get());
      else
        Weave(other.get(), cur.get(), out.get());
    }
    if (post_ >= 2 && IsCombed(out.get(), kCombedBlockPixels)) {
      Frame clean = plugin::NewFrameLike(out.get());
      if (!clean) return Fail("out of memory", error);
      InterpolateCombed(out.get(), top_first_, clean.get());
      out = clean;
    }
    return out;
  }

 private:
  static Frame Fail(const char* why, std::string* error) {
    *error = why;
    return Frame();
  }

  // Combed pixels of frame n's first field woven with each candidate's
  // second field.
  bool Counts(int64_t n, int64_t counts[3], Frame frames[3], std::string* error) {
    const int64_t last = source_.Info().frame_count - 1;
    Frame cur = source_.Get(n, error);
    if (!cur) return false;
    frames[kCurrent] = cur;
    frames[kPrevious] = n > 0 ? source_.Get(n - 1, error) : Frame();
    frames[kNext] = n < last ? source_.Get(n + 1, error) : Frame();
    if ((n > 0 && !frames[kPrevious]) || (n < last && !frames[kNext])) return false;
    for (int m = 0; m < 3; ++m) {
      if (!frames[m]) {
        counts[m] = INT64_MAX;
        continue;
      }
      counts[m] = top_first_ ? CombCount(cur.get(), frames[m].get())
                             : CombCount(frames[m].get(), cur.get());
    }
    return true;
  }

  static int Best(const int64_t counts[3]) {
    // Another frame's field only when it combs clearly less.
    int best = kCurrent;
    for (int m : {kPrevious, kNext})
      if (counts[m] < counts[best] && counts[m] * 5 < counts[kCurrent] * 4) best = m;
    return best;
  }

  bool UnguidedMatch(int64_t n, int* match, std::string* error) {
    auto it = unguided_.find(n);
    if (it != unguided_.end()) {
      *match = it->second;
      return true;
    }
    int64_t counts[3];
    Frame frames[3];
    if (!Counts(n, counts, frames, error)) return false;
    *match = Best(counts);
    if (unguided_.size() > 4096) unguided_.clear();
    unguided_[n] = *match;
    return true;
  }

  bool Choose(int64_t n, int* match, Frame* other, std::string* error) {
    int64_t counts[3];
    Frame frames[3];
    if (!Counts(n, counts, frames, error)) return false;
    *match = Best(counts);
    if (guided_ && n >= 5) {
      // The 3:2 cadence repeats every five frames: the match of five frames
      // before wins when it combs about as little as the best.
      int predicted;
      if (!UnguidedMatch(n - 5, &predicted, error)) return false;
      const int64_t best = counts[*match];
      if (predicted != *match && frames[predicted] &&
          counts[predicted] <= best + std::max<int64_t>(16, best / 4))
        *match = predicted;
    }
    *other = frames[*match];
    return true;
  }

  plugin::Source source_;
  bool top_first_;
  bool guided_;
  int post_;
  std::unordered_map<int64_t, int> unguided_;
};

}  // namespace

void Telecide(kvfs_call* call, void*) {
  const kvfs_host* host = Host();
  kvfs_clip* clip = host->arg_clip(call, 0);
  kvfs_clip_info info;
  host->clip_info(clip, &info);
  if (info.pixel_format != KVFS_PIXEL_I420 || info.frame_count < 1)
    return host->fail(call, "the clip must have a YV12 picture");
  const int64_t order = host->arg_int(call, 1, 1);
  const int64_t guide = host->arg_int(call, 2, 0);
  const int64_t post = host->arg_int(call, 3, 2);
  if (order != 0 && order != 1) return host->fail(call, "order must be 0 or 1");
  if (guide < 0 || guide > 3) return host->fail(call, "guide must be from 0 to 3");
  if (post < 0 || post > 5) return host->fail(call, "post must be from 0 to 5");
  plugin::ReturnFilter(
      call, info,
      std::make_unique<TelecideFilter>(clip, order == 1, guide == 1, static_cast<int>(post)),
      "Telecide");
}

}  // namespace decomb
