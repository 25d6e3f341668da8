// The two text files a title's video is opened through: the video index
// (".qmvi": picture size, rate and one line of frame flags per GOP) and the
// virtual file map (".vfm": the byte ranges of the VOB files that make up the
// title, in playing order). Pure parsing, no file access.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qmvideo {

// Frame flag bits, one flag per coded frame in display order.
inline constexpr uint8_t kRepeatFirstField = 0x01;
inline constexpr uint8_t kTopFieldFirst = 0x02;
// Clear on the leading B-frames of an open GOP: they need the previous GOP.
inline constexpr uint8_t kDecodableInGop = 0x10;

struct Gop {
  int64_t position = 0;     // of the pack holding the I-picture, in the virtual file
  int32_t first_frame = 0;  // coded frame number of its first frame in display order
  int32_t frame_count = 0;
};

struct VideoIndex {
  std::string map_name;  // the ".vfm" by bare name, beside the index
  int width = 0;
  int height = 0;
  int frame_rate_milli = 0;  // 25000, 29970, 23976
  int aspect_code = 0;
  bool pc_scale = true;  // YUVRGB_Scale=1: luma 16-235 stretched to 0-255
  std::vector<Gop> gops;
  std::vector<uint8_t> flags;  // per coded frame
};

// False when the text is not a complete video index (wrong head, missing
// size or rate, a malformed GOP line, no closing " 9").
bool ParseVideoIndex(const std::string& text, VideoIndex* index);

struct MapSegment {
  int file = 0;
  int64_t offset = 0;
  int64_t length = 0;
  int64_t start = 0;  // in the virtual file
};

struct VirtualFileMap {
  std::vector<std::string> files;
  std::vector<MapSegment> segments;
  int64_t total = 0;
};

// False when the text is not a complete map (wrong head, bad segment, no
// end mark).
bool ParseVirtualFileMap(const std::string& text, VirtualFileMap* map);

// The two coded frames whose fields make up one displayed frame.
struct FieldPair {
  int32_t top = 0;
  int32_t bottom = 0;
};

// The frames a player shows for the coded frames with these flags: each
// coded frame gives its two fields, and the first again when it repeats it;
// consecutive fields pair into frames, starting with the stream's first
// field. A field whose order contradicts the flags before it is dropped (the
// same rule as FFmpeg's repeatfields, which starts with a top field).
std::vector<FieldPair> DisplayedFrames(const std::vector<uint8_t>& flags);

}  // namespace qmvideo
