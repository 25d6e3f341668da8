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

// The frames a player shows for the coded frames with these flags. The
// title is a sequence of fields: each coded frame gives its first field, its
// second, and its first again when it repeats it (the first is the top field
// when the frame is flagged top field first). Shown frames pair these fields
// in order from the title's first field, so frames without repeated fields
// are shown as coded, whatever their field order. A field followed by one of
// its own parity (flags that contradict each other) is dropped; a last field
// without a partner is not shown.
std::vector<FieldPair> DisplayedFrames(const std::vector<uint8_t>& flags);

}  // namespace qmvideo
