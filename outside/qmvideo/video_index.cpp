#include "outside/qmvideo/video_index.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace qmvideo {

namespace {

// Lines with CR LF or LF ends.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

// Whole-word integers in the given base; false on anything else.
bool ToInt64(const std::string& s, int base, int64_t* value) {
  if (s.empty() || s[0] == '-' || s[0] == '+' || s[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, base);
  if (errno != 0 || end != s.c_str() + s.size()) return false;
  *value = v;
  return true;
}

bool ToInt(const std::string& s, int base, int* value) {
  int64_t v;
  if (!ToInt64(s, base, &v) || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

// "<prefix><number>" with a number of at most `max_version`.
bool HeadLine(const std::string& line, const char* prefix, int max_version) {
  const size_t n = std::strlen(prefix);
  int version;
  return line.compare(0, n, prefix) == 0 && ToInt(line.substr(n), 10, &version) &&
         version <= max_version;
}

// The value after "key=" up to the first space ("Frame_Rate=25000").
bool KeyValue(const std::string& line, const char* key, std::string* value) {
  const size_t n = std::strlen(key);
  if (line.compare(0, n, key) != 0 || line.size() <= n || line[n] != '=') return false;
  size_t end = line.find(' ', n + 1);
  *value = line.substr(n + 1, end == std::string::npos ? std::string::npos : end - n - 1);
  return true;
}

constexpr int kMaxPictureSide = 8192;
// A GOP line holds at most 499 frames where it is written; a little slack.
constexpr size_t kMaxGopFrames = 4096;

}  // namespace

bool ParseVideoIndex(const std::string& text, VideoIndex* index) {
  *index = VideoIndex();
  const std::vector<std::string> lines = Lines(text);
  if (lines.size() < 5 || !HeadLine(lines[0], "qmVideoIndex", 6)) return false;
  if (lines[1] != "1") return false;
  // "<length> <name>": the name may hold spaces, the length says where it ends.
  const std::string& map_line = lines[2];
  size_t space = map_line.find(' ');
  int length;
  if (space == std::string::npos || !ToInt(map_line.substr(0, space), 10, &length)) return false;
  index->map_name = map_line.substr(space + 1);
  if (length <= 0 || static_cast<size_t>(length) != index->map_name.size() ||
      index->map_name.find('/') != std::string::npos)
    return false;
  if (!lines[3].empty()) return false;

  size_t i = 4;
  bool have_size = false, have_rate = false;
  for (; i < lines.size() && lines[i].compare(0, 9, "Location=") != 0; ++i) {
    std::string value;
    if (KeyValue(lines[i], "Picture_Size", &value)) {
      size_t x = value.find('x');
      if (x == std::string::npos || !ToInt(value.substr(0, x), 10, &index->width) ||
          !ToInt(value.substr(x + 1), 10, &index->height))
        return false;
      have_size = true;
    } else if (KeyValue(lines[i], "Frame_Rate", &value)) {
      if (!ToInt(value, 10, &index->frame_rate_milli)) return false;
      have_rate = true;
    } else if (KeyValue(lines[i], "YUVRGB_Scale", &value)) {
      index->pc_scale = value != "0";
    } else if (KeyValue(lines[i], "Aspect_Ratio", &value)) {
      index->aspect_code = value == "1:1"      ? 1
                           : value == "4:3"    ? 2
                           : value == "16:9"   ? 3
                           : value == "2.21:1" ? 4
                                               : 0;
    } else if (lines[i].empty()) {
      return false;
    }
  }
  if (!have_size || !have_rate || i >= lines.size()) return false;
  if (index->width <= 0 || index->height <= 0 || index->width > kMaxPictureSide ||
      index->height > kMaxPictureSide || index->frame_rate_milli <= 0 ||
      index->frame_rate_milli > 240000)
    return false;
  ++i;  // Location=
  if (i >= lines.size() || !lines[i].empty()) return false;
  ++i;

  bool closed = false;
  int64_t last_position = -1;
  for (; i < lines.size() && !closed; ++i) {
    const std::vector<std::string> w = Words(lines[i]);
    if (w.size() < 5 || w[0] != "7" || w[1] != "0") return false;
    Gop gop;
    int vob, cell;
    if (!ToInt64(w[2], 10, &gop.position) || !ToInt(w[3], 10, &vob) || !ToInt(w[4], 10, &cell))
      return false;
    if (gop.position < last_position) return false;
    last_position = gop.position;
    gop.first_frame = static_cast<int32_t>(index->flags.size());
    for (size_t k = 5; k < w.size(); ++k) {
      if (w[k] == "9" && k + 1 == w.size()) {
        closed = true;
        break;
      }
      int flag;
      if (!ToInt(w[k], 16, &flag) || (flag & ~0x13) != 0) return false;
      index->flags.push_back(static_cast<uint8_t>(flag));
      ++gop.frame_count;
    }
    if (static_cast<size_t>(gop.frame_count) > kMaxGopFrames) return false;
    if (index->flags.size() > static_cast<size_t>(INT_MAX / 2)) return false;
    // A line without frames (a run that ended before any picture) adds none.
    if (gop.frame_count > 0) index->gops.push_back(gop);
  }
  return closed && !index->flags.empty();
}

bool ParseVirtualFileMap(const std::string& text, VirtualFileMap* map) {
  *map = VirtualFileMap();
  const std::vector<std::string> lines = Lines(text);
  if (lines.size() < 4 || !HeadLine(lines[0], "VirtualFileMap", 10)) return false;
  int count;
  if (!ToInt(lines[1], 10, &count) || count < 1 || count > 99) return false;
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

std::vector<FieldPair> DisplayedFrames(const std::vector<uint8_t>& flags) {
  std::vector<FieldPair> shown;
  shown.reserve(flags.size() + flags.size() / 4 + 1);
  // Fields pair into frames from the stream's first field on: a stream that
  // starts bottom field first pairs each bottom field with the top field
  // after it, so its frames without repeated fields are its coded frames.
  const bool bottom_first = !flags.empty() && !(flags[0] & kTopFieldFirst);
  // state 0: the next field starts a frame; 1: a first field waits for its
  // second field, held in `held` (the coded frame it came from).
  int state = 0;
  int32_t held = 0;
  for (size_t i = 0; i < flags.size(); ++i) {
    const int32_t n = static_cast<int32_t>(i);
    const bool first_parity_first = ((flags[i] & kTopFieldFirst) != 0) != bottom_first;
    const bool rff = flags[i] & kRepeatFirstField;
    if ((state == 0 && !first_parity_first) || (state == 1 && first_parity_first)) state ^= 1;
    if (state == 0) {
      shown.push_back({n, n});
      if (rff) {
        held = n;
        state = 1;
      }
    } else {
      shown.push_back(bottom_first ? FieldPair{n, held} : FieldPair{held, n});
      if (rff) {
        shown.push_back({n, n});
        state = 0;
      } else {
        held = n;
      }
    }
  }
  return shown;
}

}  // namespace qmvideo
