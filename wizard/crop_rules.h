#pragma once

#include "wizard/title_facts.h"

namespace wizard {

// The four crop margins in picture pixels.
struct CropMargins {
  int Top = 0;
  int Bottom = 0;
  int Left = 0;
  int Right = 0;

  bool operator==(const CropMargins&) const = default;
};

// Pixels of the picture that every crop leaves in each direction.
inline constexpr int kMinCroppedSize = 32;

// The rectangle inside the margins of a width x height picture.
PictureRect CropRectFor(const CropMargins& margins, int width, int height);
// The largest value each margin may take with the other margins as they are,
// so that at least kMinCroppedSize pixels remain.
CropMargins CropMaxima(const CropMargins& margins, int width, int height);

// The margins leave at least kMinCroppedSize pixels each way.
bool CropLeavesMinimum(const CropMargins& margins, int width, int height);

// The value rounded towards zero to an even number: a margin as the fields
// and the crop dialog keep it.
int EvenTowardsZero(int value);

enum class CropEdge { None, Top, Bottom, Left, Right };

// The edge of `rect` within `tolerance` pixels (exclusive) of picture point
// (x, y); the top edge first, then bottom, left, right.
CropEdge EdgeAt(const PictureRect& rect, int x, int y, int tolerance);

// The margin asked for by dragging `edge` to picture point (x, y) of a
// width x height picture: the distance from the picture's edge, made even.
int DraggedMargin(CropEdge edge, int x, int y, int width, int height);

// Where a window of `size` that starts at `start` goes on a screen of
// `screen` pixels: 32 pixels inside the screen's end when it would run past
// it, else where it is.
int KeptOnScreen(int start, int size, int screen);

}  // namespace wizard
