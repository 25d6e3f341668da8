#include "tessmar/formats/virtual_file_map.h"

#include <cstdint>
#include <cstdio>

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

void AppendAnchor(std::string* out, int64_t ticks) {
  out->append("@ ");
  AppendDec(out, ticks);
  out->push_back('\n');
}

namespace {

// "@ <ticks>": a signed decimal within a day either way.
bool ParseAnchor(const std::vector<std::string>& w, int64_t* ticks) {
  constexpr int64_t kDay = 24 * 3600 * kAnchorTicksPerSecond;
  if (w.size() != 2 || w[0] != "@") return false;
  const bool negative = !w[1].empty() && w[1][0] == '-';
  int64_t v;
  if (!ToInt64(negative ? w[1].substr(1) : w[1], 10, &v) || v > kDay) return false;
  *ticks = negative ? -v : v;
  return true;
}

}  // namespace

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
  bool anchor_pending = false;
  for (++i; i < lines.size(); ++i) {
    if (lines[i] == ".") return !map->segments.empty() && !anchor_pending;
    if (lines[i].empty()) continue;
    const std::vector<std::string> w = Words(lines[i]);
    if (!w.empty() && w[0] == "@") {
      MapAnchor a;
      if (anchor_pending || !ParseAnchor(w, &a.ticks)) return false;
      a.start = map->total;
      map->anchors.push_back(a);
      anchor_pending = true;
      continue;
    }
    MapSegment s;
    if (w.size() != 3 || !ToInt(w[0], 10, &s.file) || !ToInt64(w[1], 16, &s.offset) ||
        !ToInt64(w[2], 16, &s.length))
      return false;
    if (s.file >= count || s.length > (INT64_MAX >> 2) || s.offset > (INT64_MAX >> 2) ||
        map->total > (INT64_MAX >> 2))
      return false;
    if (s.length == 0) continue;
    anchor_pending = false;
    s.start = map->total;
    map->total += s.length;
    map->segments.push_back(s);
  }
  return false;  // no end mark
}

}  // namespace tessmar::formats

namespace tessmar::formats {

bool ReadFirstAnchor(const std::string& path, int64_t* ticks) {
  // The head holds at most kMaxMapFiles paths of a few hundred characters.
  std::string head(64 * 1024, '\0');
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  head.resize(std::fread(head.data(), 1, head.size(), f));
  std::fclose(f);
  const std::vector<std::string> lines = SplitLines(head);
  int count;
  if (lines.size() < 4 || !ExactHead(lines[0], kVirtualFileMapMagic, kVirtualFileMapVersion) ||
      !ToInt(lines[1], 10, &count) || count < 1 || count > kMaxMapFiles)
    return false;
  for (size_t i = 3 + static_cast<size_t>(count); i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    return ParseAnchor(Words(lines[i]), ticks);
  }
  return false;
}

}  // namespace tessmar::formats
