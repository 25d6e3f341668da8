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

}  // namespace tessmar::formats
