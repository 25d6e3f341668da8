#include "decoder/border_detection.h"

#include <algorithm>

#include "decoder/video_decoder.h"

namespace decoder {

namespace {

// Mean brightness <= 20.0 over n pixels, on the byte sum (3 bytes a pixel).
bool Dark(int64_t byte_sum, int64_t pixels) {
  return byte_sum <= 60 * pixels;
}

int64_t RowSum(const uint8_t* bgr, int width, int y) {
  const uint8_t* p = bgr + static_cast<size_t>(y) * width * 3;
  int64_t sum = 0;
  for (int i = 0; i < width * 3; ++i) sum += p[i];
  return sum;
}

int64_t ColumnSum(const uint8_t* bgr, int width, int height, int x) {
  int64_t sum = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = bgr + (static_cast<size_t>(y) * width + x) * 3;
    sum += p[0] + p[1] + p[2];
  }
  return sum;
}

}  // namespace

std::vector<int32_t> BorderSampleFrames(int32_t frame_count) {
  std::vector<int32_t> frames;
  const int32_t step = frame_count / 21;
  for (int32_t i = 1; i <= 20; ++i) frames.push_back(i * step);
  return frames;
}

DarkMargins MeasureDarkMargins(const uint8_t* bgr, int width, int height) {
  DarkMargins m;
  while (m.Top < height && Dark(RowSum(bgr, width, m.Top), width)) ++m.Top;
  while (m.Bottom < height && Dark(RowSum(bgr, width, height - 1 - m.Bottom), width)) ++m.Bottom;
  while (m.Left < width && Dark(ColumnSum(bgr, width, height, m.Left), height)) ++m.Left;
  while (m.Right < width && Dark(ColumnSum(bgr, width, height, width - 1 - m.Right), height))
    ++m.Right;
  return m;
}

BorderRect BordersFromMargins(const std::vector<DarkMargins>& samples, int width, int height) {
  DarkMargins least{height, height, width, width};
  for (const DarkMargins& m : samples) {
    least.Top = std::min(least.Top, m.Top);
    least.Bottom = std::min(least.Bottom, m.Bottom);
    least.Left = std::min(least.Left, m.Left);
    least.Right = std::min(least.Right, m.Right);
  }
  if (least.Top + least.Bottom >= height) least.Top = least.Bottom = 0;
  if (least.Left + least.Right >= width) least.Left = least.Right = 0;
  return BorderRect{least.Top, least.Left, width - least.Left - least.Right,
                    height - least.Top - least.Bottom};
}

bool DetectBorders(const std::string& path, bool film, BorderRect* rect) {
  return UseVideoAlone(path, film, [rect](const VideoInfo& info, const FrameSource& frame_at) {
    std::vector<DarkMargins> samples;
    for (int32_t n : BorderSampleFrames(info.FrameCount)) {
      const uint8_t* frame = frame_at(n);
      if (!frame) return false;
      samples.push_back(MeasureDarkMargins(frame, info.Width, info.Height));
    }
    *rect = BordersFromMargins(samples, info.Width, info.Height);
    return true;
  });
}

}  // namespace decoder
