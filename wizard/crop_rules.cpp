#include "wizard/crop_rules.h"

namespace wizard {

PictureRect CropRectFor(const CropMargins& m, int width, int height) {
  return {m.Top, m.Left, width - m.Left - m.Right, height - m.Top - m.Bottom};
}

CropMargins CropMaxima(const CropMargins& m, int width, int height) {
  return {height - m.Bottom - kMinCroppedSize, height - m.Top - kMinCroppedSize,
          width - m.Right - kMinCroppedSize, width - m.Left - kMinCroppedSize};
}

bool CropLeavesMinimum(const CropMargins& m, int width, int height) {
  const PictureRect kept = CropRectFor(m, width, height);
  return kept.Width >= kMinCroppedSize && kept.Height >= kMinCroppedSize;
}

int EvenTowardsZero(int value) {
  return value - value % 2;
}

CropEdge EdgeAt(const PictureRect& rect, int x, int y, int tolerance) {
  auto near = [tolerance](int at, int line) {
    return line - tolerance < at && at < line + tolerance;
  };
  if (near(y, rect.Top)) return CropEdge::Top;
  if (near(y, rect.Top + rect.Height - 1)) return CropEdge::Bottom;
  if (near(x, rect.Left)) return CropEdge::Left;
  if (near(x, rect.Left + rect.Width - 1)) return CropEdge::Right;
  return CropEdge::None;
}

int DraggedMargin(CropEdge edge, int x, int y, int width, int height) {
  switch (edge) {
    case CropEdge::Top:
      return EvenTowardsZero(y);
    case CropEdge::Bottom:
      return EvenTowardsZero(height - y - 1);
    case CropEdge::Left:
      return EvenTowardsZero(x);
    case CropEdge::Right:
      return EvenTowardsZero(width - x - 1);
    case CropEdge::None:
      break;
  }
  return 0;
}

int KeptOnScreen(int start, int size, int screen) {
  return start + size > screen ? screen - size - 32 : start;
}

}  // namespace wizard
