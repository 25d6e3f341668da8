// The preview player's picture conversion: the scaler writes whole blocks
// past a row's end, which AddressSanitizer cannot see inside the library,
// so the buffer is followed by a guard region that must stay untouched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "outside/player/picture_converter.h"

namespace {

constexpr size_t kGuardBytes = 4096;
constexpr uint8_t kGuardByte = 0xA5;

// An input frame laid out as the frameserver lays out its frames: rows
// aligned to 32 bytes, a little room behind the last plane.
struct SourceFrame {
  SourceFrame(int width, int height, int pixel_format) {
    frame.width = width;
    frame.height = height;
    frame.pixel_format = pixel_format;
    const int planes = pixel_format == KVFS_PIXEL_I420 ? 3 : 1;
    size_t offsets[3] = {0, 0, 0}, total = 0;
    for (int p = 0; p < planes; ++p) {
      const int bytes = pixel_format == KVFS_PIXEL_BGR24 ? width * 3 : p ? (width + 1) / 2 : width;
      const int rows = p ? (height + 1) / 2 : height;
      frame.pitch[p] = (bytes + 31) & ~31;
      offsets[p] = total;
      total += static_cast<size_t>(frame.pitch[p]) * rows;
    }
    memory.assign(total + 64, 0);
    for (int p = 0; p < planes; ++p) frame.data[p] = memory.data() + offsets[p];
  }
  kvfs_frame frame{};
  std::vector<uint8_t> memory;
};

// Luma rises along the row with no colour: every output pixel is a grey
// whose level the column gives.
uint8_t LumaAt(int x) {
  return static_cast<uint8_t>(16 + x * 7 % 219);
}

SourceFrame GreyRamp(int width, int height) {
  SourceFrame s(width, height, KVFS_PIXEL_I420);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) s.frame.data[0][y * s.frame.pitch[0] + x] = LumaAt(x);
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < (height + 1) / 2; ++y)
      std::memset(s.frame.data[p] + y * s.frame.pitch[p], 128, (width + 1) / 2);
  return s;
}

SourceFrame ColourRamp(int width, int height) {
  SourceFrame s(width, height, KVFS_PIXEL_BGR24);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * 3; ++x)
      s.frame.data[0][y * s.frame.pitch[0] + x] = static_cast<uint8_t>(x * 5 + y * 3);
  return s;
}

// Converts into a buffer of exactly the layout's size followed by the
// guard; returns the first row-and-column where the output is wrong, or an
// empty text.
std::string ConvertAndCheck(player::PictureConverter& converter, const SourceFrame& source) {
  const int width = source.frame.width, height = source.frame.height;
  const player::PictureLayout layout = player::LayoutFor(width, height);
  if (layout.stride < width * 4) return "the stride is shorter than a row";
  // 64-byte aligned like the buffer the player allocates.
  const size_t total = (layout.bytes + kGuardBytes + 63) / 64 * 64;
  auto* buffer = static_cast<uint8_t*>(std::aligned_alloc(64, total));
  std::memset(buffer, kGuardByte, total);
  std::string wrong;
  if (!converter.Convert(source.frame, buffer)) wrong = "refused";
  for (size_t i = layout.bytes; wrong.empty() && i < layout.bytes + kGuardBytes; ++i)
    if (buffer[i] != kGuardByte)
      wrong = "guard byte " + std::to_string(i - layout.bytes) + " written";
  for (int y = 0; wrong.empty() && y < height; ++y) {
    for (int x = 0; wrong.empty() && x < width; ++x) {
      const uint8_t* out = buffer + static_cast<size_t>(y) * layout.stride + x * 4;
      bool good;
      if (source.frame.pixel_format == KVFS_PIXEL_BGR24) {
        good = std::memcmp(out, source.frame.data[0] + y * source.frame.pitch[0] + x * 3, 3) == 0;
      } else {
        const int grey = (LumaAt(x) - 16) * 255 / 219;
        good = out[0] == out[1] && out[1] == out[2] && std::abs(out[0] - grey) <= 2;
      }
      if (!good) wrong = "pixel " + std::to_string(x) + "," + std::to_string(y);
    }
  }
  std::free(buffer);
  return wrong;
}

TEST(PlayerPictureConverter, EveryWidthLeavesTheGuardBehindTheBufferUntouched) {
  // Heights with odd multiples of 4 and an odd one (the chroma rounds up).
  const int heights[] = {2, 4, 12, 36, 7};
  player::PictureConverter converter;
  for (int width = 32; width <= 2048; width += 4) {
    for (int height : heights) {
      EXPECT_EQ(ConvertAndCheck(converter, GreyRamp(width, height)), "")
          << "I420 " << width << " x " << height;
      EXPECT_EQ(ConvertAndCheck(converter, ColourRamp(width, height)), "")
          << "BGR24 " << width << " x " << height;
    }
  }
}

TEST(PlayerPictureConverter, PreviewSizesConvertWholeIntoTheirOwnImage) {
  // The sizes the wizard's preview scripts come in, odd multiples of 4 among them.
  const struct {
    int width, height;
  } sizes[] = {{360, 336}, {476, 448}, {700, 396},   {712, 400}, {720, 576},
               {352, 288}, {644, 484}, {1916, 1076}, {36, 20}};
  player::PictureConverter converter;
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
    const SourceFrame grey = GreyRamp(size.width, size.height);
    EXPECT_EQ(ConvertAndCheck(converter, grey), "");
    EXPECT_EQ(ConvertAndCheck(converter, ColourRamp(size.width, size.height)), "");
    const QImage image = converter.ToImage(grey.frame);
    ASSERT_EQ(image.size(), QSize(size.width, size.height));
    const int last = size.width - 1;
    EXPECT_EQ(qGray(image.pixel(last, size.height - 1)), (LumaAt(last) - 16) * 255 / 219)
        << "the last pixel";
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 255);
  }
}

}  // namespace
