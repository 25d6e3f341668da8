#pragma once

#include <QImage>
#include <cstdint>
#include <optional>
#include <string>

namespace player {

struct Picture {
  int64_t frame = -1;
  QImage image;
};

// Where the player's pictures come from: read ahead of the clock, in order,
// from the frame reading last started at. The frameserver serves any frame
// at any time, so reading can jump forward when it falls behind.
class FrameSource {
 public:
  virtual ~FrameSource() = default;

  // Reading starts again at `frame` (the sound at the frame's first sample)
  // and a read error is forgotten.
  virtual void Seek(int64_t frame) = 0;
  // The pictures go on from `frame` when reading has not got there; the
  // sound goes on unchanged.
  virtual void SkipTo(int64_t frame) = 0;
  // The latest picture read for a frame up to `frame`; pictures before it
  // are dropped. None while reading has not got there.
  virtual std::optional<Picture> TakePicture(int64_t frame) = 0;
  // The frame whose reading starts next.
  virtual int64_t NextFrame() const = 0;
  // The reason reading stopped, once the pictures read before the failure
  // have been taken; empty while reading goes on.
  virtual std::string Error() const = 0;
};

}  // namespace player
