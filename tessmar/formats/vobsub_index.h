// The VobSub index (".idx", version 7) of one sub-picture stream of a title:
// picture size, palette, and for every sub-picture its time in the title and
// its place in the stream file of the same base name (".sub").
//
//   # VobSub index file, v7 (do not modify this line!)
//   <empty line>
//   size: 720x480
//   org: 0, 0 ... forced subs: OFF        fixed lines
//   palette: rrggbb, rrggbb, ...          16 colours
//   langidx: <n>
//   id: xx, index: <n>
//   <empty line>
//   timestamp: 00:00:01:000, filepos: 000000000
//   ...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessmar::formats {

inline constexpr int kPaletteColours = 16;

struct Rgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
};

// "<base>_st<n>.idx".
std::string VobSubIndexName(const std::string& base, int stream);
// The marker line, the empty line, the size and the fixed lines.
void AppendVobSubHead(std::string* out, int width, int height);
void AppendVobSubPalette(std::string* out, const Rgb (&palette)[kPaletteColours]);
void AppendVobSubStream(std::string* out, int stream);
// The empty line before the time stamps.
void AppendVobSubEntriesStart(std::string* out);
// `ticks` in 90 kHz units, printed as hours (mod 60), minutes, seconds and
// milliseconds.
void AppendVobSubTimestamp(std::string* out, uint32_t ticks, uint64_t file_position);

struct VobSubEntry {
  int64_t milliseconds = 0;
  uint64_t file_position = 0;
};

struct VobSubIndex {
  int width = 0;
  int height = 0;
  Rgb palette[kPaletteColours];
  int stream = -1;  // "id: xx, index: <n>"
  std::vector<VobSubEntry> entries;
};

// False when the text does not begin with the marker line or a size,
// palette or time stamp line is malformed. Unknown lines are passed over.
bool ParseVobSubIndex(const std::string& text, VobSubIndex* index);

}  // namespace tessmar::formats
