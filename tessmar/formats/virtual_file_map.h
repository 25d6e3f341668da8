// The virtual file map (".vfm"): byte ranges of VOB files whose
// concatenation, in order, is one title's program stream (the video map) or
// one audio stream of the title (the audio maps "_at<n>.vfm").
//
//   VirtualFileMap10
//   <file count>
//   <path of each file>
//   <empty line>
//   <file index> <offset, hex> <length, hex>
//   ...
//   <empty line>
//   .
//
// An audio map may carry, before a segment, a time line "@ <ticks>": the
// first audio frame that begins in that segment is heard at that many 90 kHz
// ticks (signed decimal) of the title's time, counted from its first
// picture. The first segment of such a map carries one; the others mark
// where the title's sound was cut and joined (a cell boundary, a change of
// time base, an interleaved unit), so that a reader places the sound after
// them by time instead of running on from the bytes before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessmar::formats {

inline constexpr char kVirtualFileMapMagic[] = "VirtualFileMap";
inline constexpr int kVirtualFileMapVersion = 10;
inline constexpr int kMaxMapFiles = 99;

// "<base>_at<n>.vfm".
std::string AudioMapName(const std::string& base, int stream);
// The magic line; then the file list (AppendFileList), the segments and the
// end mark.
void AppendVirtualFileMapMagic(std::string* out);
void AppendVirtualFileMapHead(std::string* out, const std::vector<std::string>& paths);
void AppendSegment(std::string* out, int file, uint64_t offset, uint64_t length);
// The time line of the segment appended next.
void AppendAnchor(std::string* out, int64_t ticks);
inline constexpr int64_t kAnchorTicksPerSecond = 90000;

struct MapSegment {
  int file = 0;
  int64_t offset = 0;
  int64_t length = 0;
  int64_t start = 0;  // in the virtual file
};

// The time of the first frame that begins at or after `start` in the
// virtual file.
struct MapAnchor {
  int64_t start = 0;
  int64_t ticks = 0;
};

struct VirtualFileMap {
  std::vector<std::string> files;
  std::vector<MapSegment> segments;
  std::vector<MapAnchor> anchors;  // in the order of their segments
  int64_t total = 0;
};

// False when the text is not a complete map (wrong head, bad segment, a
// time line not followed by a segment, no end mark).
bool ParseVirtualFileMap(const std::string& text, VirtualFileMap* map);

// The time line of a map's first segment, from the head of the file alone;
// false when the file cannot be read or its first segment has none.
bool ReadFirstAnchor(const std::string& path, int64_t* ticks);

}  // namespace tessmar::formats
