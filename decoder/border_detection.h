// Black borders of a title, from 20 frames spread over it: the dark rows and
// columns at each edge that every sampled frame has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace decoder {

struct DarkMargins {
  int Top = 0;
  int Bottom = 0;
  int Left = 0;
  int Right = 0;

  bool operator==(const DarkMargins&) const = default;
};

// The picture inside the borders, in pixels.
struct BorderRect {
  int Top = 0;
  int Left = 0;
  int Width = 0;
  int Height = 0;

  bool operator==(const BorderRect&) const = default;
};

// The frames sampled of a title of `frame_count` frames: i x (count / 21)
// for i = 1 ... 20.
std::vector<int32_t> BorderSampleFrames(int32_t frame_count);

// Dark rows and columns at the edges of one blue-green-red frame. A line is
// dark when the mean brightness of its pixels (each the mean of its three
// bytes) is at most 20.0; each count runs from its edge while lines are dark
// (an all-dark frame counts the whole height or width from every edge).
DarkMargins MeasureDarkMargins(const uint8_t* bgr, int width, int height);

// The rectangle from the smallest margins over the samples; margins that
// meet or cross each other count as none.
BorderRect BordersFromMargins(const std::vector<DarkMargins>& samples, int width, int height);

// Opens the title by itself (closing a video the program has open), samples
// it, closes it. False when it cannot be opened or a sample frame cannot be
// decoded.
bool DetectBorders(const std::string& path, bool film, BorderRect* rect);

}  // namespace decoder
