// The two text files a title's video is opened through: the video index
// (".qmvi": picture size, rate and one line of frame flags per GOP) and the
// virtual file map (".vfm": the byte ranges of the VOB files that make up the
// title, in playing order), read with the index format modules; and the
// frames a player shows for the coded frames' flags.
#pragma once

#include <cstdint>
#include <vector>

#include "tessmar/formats/video_index.h"
#include "tessmar/formats/virtual_file.h"
#include "tessmar/formats/virtual_file_map.h"

namespace qmvideo {

using tessmar::formats::Gop;
using tessmar::formats::MapSegment;
using tessmar::formats::ParseVideoIndex;
using tessmar::formats::ParseVirtualFileMap;
using tessmar::formats::VideoIndex;
using tessmar::formats::VirtualFile;
using tessmar::formats::VirtualFileMap;

// Frame flag bits, one flag per coded frame in display order.
inline constexpr uint8_t kRepeatFirstField = tessmar::formats::kFlagRepeatFirstField;
inline constexpr uint8_t kTopFieldFirst = tessmar::formats::kFlagTopFieldFirst;
// Clear on the leading B-frames of an open GOP: they need the previous GOP.
inline constexpr uint8_t kDecodableInGop = tessmar::formats::kFlagDecodable;

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
