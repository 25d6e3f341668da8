// One sub-picture stream of a title through its VobSub index (".idx") and
// stream file (".sub" beside it): which sub-picture shows at a time of the
// title, decoded with libavcodec's DVD subtitle decoder (the index's palette,
// the unit's colours and contrast) and sized for the picture it is drawn on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tessmar/formats/vobsub_index.h"

struct AVCodecContext;

namespace vsfilter {

// A sub-picture's pixels in the picture's coordinates: full-resolution
// luma, chroma and opacity (0 transparent, 255 opaque).
struct Bitmap {
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<uint8_t> luma, cb, cr, alpha;
};

// A sub-picture and when it shows, in 90 kHz ticks of the title.
struct Shown {
  int64_t start = 0;
  int64_t end = 0;
  std::vector<Bitmap> bitmaps;
};

class SubtitleTrack {
 public:
  // Null with `error` set when the index or its stream file cannot be read.
  // `start_pts` is the presentation time of the title's first picture: the
  // index's times are presentation times plus the title's base, so the title
  // time of an entry is its time less `start_pts`.
  static std::unique_ptr<SubtitleTrack> Open(const std::string& idx_path, uint32_t start_pts,
                                             int picture_width, int picture_height,
                                             std::string* error);
  ~SubtitleTrack();
  SubtitleTrack(const SubtitleTrack&) = delete;
  SubtitleTrack& operator=(const SubtitleTrack&) = delete;

  // The sub-picture shown at title time `t` (90 kHz), or null.
  const Shown* At(int64_t t);

 private:
  SubtitleTrack() = default;
  // Entry i decoded (cached); an undecodable entry shows nothing.
  const Shown& Decode(size_t i);
  Bitmap Sized(const uint8_t* indices, int stride, const uint32_t* palette, int x, int y, int w,
               int h) const;

  tessmar::formats::VobSubIndex index_;
  std::vector<int64_t> times_;  // title time of each entry, in order
  std::string stream_;          // the ".sub" file
  int width_ = 0, height_ = 0;  // of the picture drawn on
  AVCodecContext* decoder_ = nullptr;
  struct Cached {
    size_t entry;
    Shown shown;
  };
  std::vector<Cached> cache_;
};

// Draws `bitmap` over a planar 4:2:0 picture (the three planes and their
// pitches, luma size `width` x `height`); chroma takes the opacity-weighted
// colour and the mean opacity of the four pixels it covers.
void Draw(const Bitmap& bitmap, uint8_t* const planes[3], const int32_t pitches[3], int width,
          int height);

}  // namespace vsfilter
