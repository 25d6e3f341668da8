#include "tessmar/formats/video_index.h"

#include <cinttypes>
#include <climits>

#include "tessmar/formats/index_text.h"
#include "tessmar/formats/strict_numbers.h"

namespace tessmar::formats {

void AppendVideoIndexHead(std::string* out, int version, const std::string& map_name) {
  AppendFormat(out, "%s%.2d\n", kVideoIndexMagic, version);
  AppendFormat(out, "1\n%d %s\n\n", static_cast<int>(map_name.size()), map_name.c_str());
}

void AppendVideoIndexGopHead(std::string* out, int64_t position, int vob_id, int cell_id) {
  out->append("\n");
  AppendGopLineHead(out, 0, position, vob_id, cell_id);
}

void AppendVideoIndexEnd(std::string* out, const std::string& trailer) {
  AppendFormat(out, "%s\n\n%s\n", kLastGopMark, trailer.c_str());
}

namespace {

// The value after "key=" up to the first space ("Frame_Rate=25000").
bool KeyValue(const std::string& line, const char* key, std::string* value) {
  const size_t n = std::char_traits<char>::length(key);
  if (line.compare(0, n, key) != 0 || line.size() <= n || line[n] != '=') return false;
  size_t end = line.find(' ', n + 1);
  *value = line.substr(n + 1, end == std::string::npos ? std::string::npos : end - n - 1);
  return true;
}

constexpr int kMaxPictureSide = 8192;
constexpr int kMaxFrameRateMilli = 240000;
// A GOP line holds at most 499 frames where it is written; a little slack.
constexpr size_t kMaxReadGopFrames = 4096;

}  // namespace

bool ParseVideoIndex(const std::string& text, VideoIndex* index) {
  *index = VideoIndex();
  const std::vector<std::string> lines = SplitLines(text);
  if (lines.size() < 5 || !ExactHead(lines[0], kVideoIndexMagic, kVideoIndexMaxVersion))
    return false;
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
  const std::string location = std::string(kLocationKey) + "=";
  for (; i < lines.size() && lines[i].compare(0, location.size(), location) != 0; ++i) {
    std::string value;
    if (KeyValue(lines[i], kPictureSizeKey, &value)) {
      size_t x = value.find('x');
      if (x == std::string::npos || !ToInt(value.substr(0, x), 10, &index->width) ||
          !ToInt(value.substr(x + 1), 10, &index->height))
        return false;
      have_size = true;
    } else if (KeyValue(lines[i], kFrameRateKey, &value)) {
      if (!ToInt(value, 10, &index->frame_rate_milli)) return false;
      have_rate = true;
    } else if (KeyValue(lines[i], kYuvRgbScaleKey, &value)) {
      index->pc_scale = value != "0";
    } else if (KeyValue(lines[i], kAspectRatioKey, &value)) {
      index->aspect_code = AspectCode(value);
    } else if (lines[i].empty()) {
      return false;
    }
  }
  if (!have_size || !have_rate || i >= lines.size()) return false;
  if (index->width <= 0 || index->height <= 0 || index->width > kMaxPictureSide ||
      index->height > kMaxPictureSide || index->frame_rate_milli <= 0 ||
      index->frame_rate_milli > kMaxFrameRateMilli)
    return false;
  ++i;  // Location=
  if (i >= lines.size() || !lines[i].empty()) return false;
  ++i;

  bool closed = false;
  int64_t last_position = -1;
  const std::string gop_mark(1, kGopLineMark);
  const std::string last_mark(kLastGopMark + 1);  // the word without its blank
  for (; i < lines.size() && !closed; ++i) {
    const std::vector<std::string> w = Words(lines[i]);
    if (w.size() < 5 || w[0] != gop_mark || w[1] != "0") return false;
    Gop gop;
    int vob, cell;
    if (!ToInt64(w[2], 10, &gop.position) || !ToInt(w[3], 10, &vob) || !ToInt(w[4], 10, &cell))
      return false;
    if (gop.position < last_position) return false;
    last_position = gop.position;
    gop.first_frame = static_cast<int32_t>(index->flags.size());
    for (size_t k = 5; k < w.size(); ++k) {
      if (w[k] == last_mark && k + 1 == w.size()) {
        closed = true;
        break;
      }
      int flag;
      if (!ToInt(w[k], 16, &flag) || (flag & ~kFlagBits) != 0) return false;
      index->flags.push_back(static_cast<uint8_t>(flag));
      ++gop.frame_count;
    }
    if (static_cast<size_t>(gop.frame_count) > kMaxReadGopFrames) return false;
    if (index->flags.size() > static_cast<size_t>(INT_MAX / 2)) return false;
    // A line without frames (a run that ended before any picture) adds none.
    if (gop.frame_count > 0) index->gops.push_back(gop);
  }
  return closed && !index->flags.empty();
}

}  // namespace tessmar::formats
