#include <memory>

#include "outside/decomb/decomb.h"
#include "outside/decomb/fields.h"
#include "outside/plugin_support/host_clip.h"

namespace decomb {

namespace {

using plugin::Frame;
using plugin::Host;

class FieldDeinterlaceFilter : public plugin::Filter {
 public:
  FieldDeinterlaceFilter(kvfs_clip* clip, bool full) : source_(clip, 2), full_(full) {}

  plugin::Source& Input() override { return source_; }

  Frame Make(int64_t n, std::string* error) override {
    Frame in = source_.Get(n, error);
    if (!in || (!full_ && !IsCombed(in.get(), kCombedBlockPixels))) return in;
    Frame out = plugin::NewFrameLike(in.get());
    if (!out) {
      *error = "out of memory";
      return out;
    }
    InterpolateCombed(in.get(), true, out.get());
    return out;
  }

 private:
  plugin::Source source_;
  bool full_;
};

}  // namespace

void FieldDeinterlace(kvfs_call* call, void*) {
  const kvfs_host* host = Host();
  kvfs_clip* clip = host->arg_clip(call, 0);
  kvfs_clip_info info;
  host->clip_info(clip, &info);
  if (info.pixel_format != KVFS_PIXEL_I420 || info.frame_count < 1)
    return host->fail(call, "the clip must have a YV12 picture");
  plugin::ReturnFilter(
      call, info, std::make_unique<FieldDeinterlaceFilter>(clip, host->arg_bool(call, 1, 1) != 0),
      "FieldDeinterlace");
}

}  // namespace decomb
