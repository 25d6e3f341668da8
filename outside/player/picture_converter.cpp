#include "outside/player/picture_converter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace player {
namespace {

// Rows start on the widest vector the scaler uses; the padding behind the
// last row is what FFmpeg's own readers and writers allow for.
constexpr int kRowAlignment = 64;
constexpr size_t kTailPadding = AV_INPUT_BUFFER_PADDING_SIZE;

void FreeBuffer(void* buffer) {
  av_free(buffer);
}

}  // namespace

PictureLayout LayoutFor(int width, int height) {
  PictureLayout layout;
  layout.stride = (width * 4 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
  layout.bytes = static_cast<size_t>(layout.stride) * static_cast<size_t>(height) + kTailPadding;
  return layout;
}

PictureConverter::~PictureConverter() {
  sws_freeContext(scaler_);
}

bool PictureConverter::Convert(const kvfs_frame& frame, uint8_t* out) {
  const AVPixelFormat from =
      frame.pixel_format == KVFS_PIXEL_I420 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_BGR24;
  scaler_ =
      sws_getCachedContext(scaler_, frame.width, frame.height, from, frame.width, frame.height,
                           AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!scaler_) return false;
  uint8_t* to[4] = {out, nullptr, nullptr, nullptr};
  const int to_stride[4] = {LayoutFor(frame.width, frame.height).stride, 0, 0, 0};
  const uint8_t* in[4] = {frame.data[0], frame.data[1], frame.data[2], nullptr};
  const int in_stride[4] = {frame.pitch[0], frame.pitch[1], frame.pitch[2], 0};
  return sws_scale(scaler_, in, in_stride, 0, frame.height, to, to_stride) == frame.height;
}

QImage PictureConverter::ToImage(const kvfs_frame& frame) {
  const PictureLayout layout = LayoutFor(frame.width, frame.height);
  auto* buffer = static_cast<uint8_t*>(av_malloc(layout.bytes));
  if (!buffer) return {};
  if (!Convert(frame, buffer)) {
    av_free(buffer);
    return {};
  }
  // The image frees the buffer when its last copy goes.
  return QImage(buffer, frame.width, frame.height, layout.stride, QImage::Format_RGB32, FreeBuffer,
                buffer);
}

}  // namespace player
