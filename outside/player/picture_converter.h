#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>

#include "outside/frameserver/include/frameserver_plugin.h"

struct SwsContext;

namespace player {

// Where a converted picture lies: the scaler's vector code writes whole
// blocks of pixels, past a row's last pixel and past the last row, so each
// row is aligned for it and padding follows the last row.
struct PictureLayout {
  int stride = 0;    // bytes from one row to the next
  size_t bytes = 0;  // the whole buffer, padding included
};
PictureLayout LayoutFor(int width, int height);

// Converts frames served by the frameserver into 32-bit RGB pictures,
// keeping the scaler between frames of one size.
class PictureConverter {
 public:
  PictureConverter() = default;
  ~PictureConverter();
  PictureConverter(const PictureConverter&) = delete;
  PictureConverter& operator=(const PictureConverter&) = delete;

  // Converts `frame` into `out`, a buffer laid out as LayoutFor gives for
  // the frame's size. False when the scaler refuses the size or format.
  bool Convert(const kvfs_frame& frame, uint8_t* out);
  // The picture in an image that owns a buffer of that layout; a null
  // image on failure.
  QImage ToImage(const kvfs_frame& frame);

 private:
  SwsContext* scaler_ = nullptr;
};

}  // namespace player
