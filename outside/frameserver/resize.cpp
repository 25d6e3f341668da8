// Resizing with an optional crop in front, by libswscale.
#include "outside/frameserver/resize.h"

#include <cmath>
#include <cstdio>

#include "outside/frameserver/interpreter.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace kvfs {

namespace {

AVPixelFormat AvFormat(int pixel_format) {
  return pixel_format == KVFS_PIXEL_BGR24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUV420P;
}

class ResizeClip : public ChildClip {
 public:
  ResizeClip(ClipPtr child, const kvfs_clip_info& info, int left, int top, int width, int height,
             int flags, int taps)
      : ChildClip(std::move(child), info), left_(left), top_(top), height_(height) {
    double params[2] = {SWS_PARAM_DEFAULT, SWS_PARAM_DEFAULT};
    if (taps > 0) params[0] = taps;
    const AVPixelFormat format = AvFormat(info.pixel_format);
    sws_ = sws_getContext(width, height, format, info.width, info.height, format, flags, nullptr,
                          nullptr, taps > 0 ? params : nullptr);
  }
  ~ResizeClip() override { sws_freeContext(sws_); }
  bool Ready() const { return sws_ != nullptr; }

 protected:
  FrameRef Frame(int64_t n) override {
    FrameRef in = child_->GetFrame(n);
    FrameRef out = NewFrame(info_.width, info_.height, info_.pixel_format);
    if (!out) throw ServeError("out of memory for a frame");
    const uint8_t* src[4] = {nullptr, nullptr, nullptr, nullptr};
    int src_pitch[4] = {0, 0, 0, 0};
    const int planes = PlaneCount(info_.pixel_format);
    for (int p = 0; p < planes; ++p) {
      // Chroma planes of 4:2:0 start at half the offsets.
      const int shift = (info_.pixel_format == KVFS_PIXEL_I420 && p > 0) ? 1 : 0;
      const int bytes = info_.pixel_format == KVFS_PIXEL_BGR24 ? 3 : 1;
      src[p] = in->data[p] + static_cast<ptrdiff_t>(top_ >> shift) * in->pitch[p] +
               (left_ >> shift) * bytes;
      src_pitch[p] = in->pitch[p];
    }
    int dst_pitch[4] = {out->pitch[0], out->pitch[1], out->pitch[2], 0};
    uint8_t* dst[4] = {out->data[0], out->data[1], out->data[2], nullptr};
    sws_scale(sws_, src, src_pitch, 0, height_, dst, dst_pitch);
    return out;
  }

 private:
  int left_, top_, height_;  // the crop's width is the scaler's
  SwsContext* sws_ = nullptr;
};

Value Resize(const Args& a, CallContext& c, int flags) {
  ClipPtr clip = a.ClipAt(0);
  if (!clip->HasVideo()) c.Fail("the clip has no picture");
  const kvfs_clip_info& in = clip->Info();
  const int64_t target_w = a.Int(1, 0), target_h = a.Int(2, 0);
  if (target_w < 1 || target_h < 1 || target_w > kMaxPictureSide || target_h > kMaxPictureSide)
    c.Fail("the new size must be from 1 to 8192 each way");
  const double left_f = a.Float(3, 0), top_f = a.Float(4, 0);
  double width_f = a.Float(5, in.width), height_f = a.Float(6, in.height);
  // A width or height of 0 or less counts from the right or bottom edge.
  if (width_f <= 0) width_f = in.width - left_f + width_f;
  if (height_f <= 0) height_f = in.height - top_f + height_f;
  if (!std::isfinite(left_f) || !std::isfinite(top_f) || !std::isfinite(width_f) ||
      !std::isfinite(height_f) || std::fabs(left_f) > 1e6 || std::fabs(top_f) > 1e6 ||
      std::fabs(width_f) > 1e6 || std::fabs(height_f) > 1e6)
    c.Fail("the crop values must be numbers of pixels");
  // The crop is taken in whole pixels.
  const long left = std::lround(left_f), top = std::lround(top_f);
  const long width = std::lround(width_f), height = std::lround(height_f);
  if (left < 0 || top < 0 || width < 1 || height < 1 || left + width > in.width ||
      top + height > in.height) {
    char text[160];
    std::snprintf(text, sizeof text, "the crop %ld, %ld, %ld, %ld does not fit the %dx%d picture",
                  left, top, width, height, in.width, in.height);
    c.Fail(text);
  }
  if (left == 0 && top == 0 && width == in.width && height == in.height && target_w == in.width &&
      target_h == in.height)
    return Value::Of(clip);  // nothing to do
  kvfs_clip_info out = in;
  out.width = static_cast<int32_t>(target_w);
  out.height = static_cast<int32_t>(target_h);
  const int taps = flags == SWS_LANCZOS && a.Count() > 7 ? static_cast<int>(a.Int(7, 0)) : 0;
  if (taps < 0 || taps > 16) c.Fail("taps must be from 1 to 16");
  auto resized =
      std::make_shared<ResizeClip>(clip, out, static_cast<int>(left), static_cast<int>(top),
                                   static_cast<int>(width), static_cast<int>(height), flags, taps);
  if (!resized->Ready()) c.Fail("the scaler refuses these sizes");
  return Value::Of(resized);
}

}  // namespace

void AddResizers(Interpreter& in) {
  in.AddFunction(
      Function{"BilinearResize",
               ParseSignature("clip clip, int target_width, int target_height, [float src_left], "
                              "[float src_top], [float src_width], [float src_height]"),
               [](const Args& a, CallContext& c) { return Resize(a, c, SWS_BILINEAR); }});
  in.AddFunction(
      Function{"LanczosResize",
               ParseSignature("clip clip, int target_width, int target_height, [float src_left], "
                              "[float src_top], [float src_width], [float src_height], [int taps]"),
               [](const Args& a, CallContext& c) { return Resize(a, c, SWS_LANCZOS); }});
}

}  // namespace kvfs
