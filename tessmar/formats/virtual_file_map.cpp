#include "tessmar/formats/virtual_file_map.h"

#include <cstdint>

#include "tessmar/formats/index_text.h"
#include "tessmar/formats/strict_numbers.h"

namespace tessmar::formats {

std::string AudioMapName(const std::string& base, int stream) {
  return base + Format("_at%d.vfm", stream);
}

void AppendVirtualFileMapMagic(std::string* out) {
  AppendFormat(out, "%s%.2d\n", kVirtualFileMapMagic, kVirtualFileMapVersion);
}

void AppendVirtualFileMapHead(std::string* out, const std::vector<std::string>& paths) {
  AppendVirtualFileMapMagic(out);
  AppendFileList(out, paths);
}

void AppendSegment(std::string* out, int file, uint64_t offset, uint64_t length) {
  AppendDec(out, file);
  out->push_back(' ');
  AppendHex(out, offset);
  out->push_back(' ');
  AppendHex(out, length);
  out->push_back('\n');
}

bool ParseVirtualFileMap(const std::string& text, VirtualFileMap* map) {
  *map = VirtualFileMap();
  const std::vector<std::string> lines = SplitLines(text);
  if (lines.size() < 4 || !ExactHead(lines[0], kVirtualFileMapMagic, kVirtualFileMapVersion))
    return false;
  int count;
  if (!ToInt(lines[1], 10, &count) || count < 1 || count > kMaxMapFiles) return false;
  if (lines.size() < static_cast<size_t>(count) + 3) return false;
  for (int f = 0; f < count; ++f) {
    if (lines[2 + f].empty()) return false;
    map->files.push_back(lines[2 + f]);
  }
  size_t i = 2 + count;
  if (!lines[i].empty()) return false;
  for (++i; i < lines.size(); ++i) {
    if (lines[i] == ".") return !map->segments.empty();
    if (lines[i].empty()) continue;
    const std::vector<std::string> w = Words(lines[i]);
    MapSegment s;
    if (w.size() != 3 || !ToInt(w[0], 10, &s.file) || !ToInt64(w[1], 16, &s.offset) ||
        !ToInt64(w[2], 16, &s.length))
      return false;
    if (s.file >= count || s.length > (INT64_MAX >> 2) || s.offset > (INT64_MAX >> 2) ||
        map->total > (INT64_MAX >> 2))
      return false;
    if (s.length == 0) continue;
    s.start = map->total;
    map->total += s.length;
    map->segments.push_back(s);
  }
  return false;  // no end mark
}

}  // namespace tessmar::formats
