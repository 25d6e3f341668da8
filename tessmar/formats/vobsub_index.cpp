#include "tessmar/formats/vobsub_index.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "tessmar/formats/index_text.h"

namespace tessmar::formats {

namespace {
constexpr char kMarker[] = "# VobSub index file, v7 (do not modify this line!)";
constexpr uint32_t kTicksPerMillisecond = 90;
}  // namespace

std::string VobSubIndexName(const std::string& base, int stream) {
  return base + Format("_st%d.idx", stream);
}

void AppendVobSubHead(std::string* out, int width, int height) {
  AppendFormat(out, "%s\n\n", kMarker);
  AppendFormat(out, "size: %dx%d\n", width, height);
  out->append("org: 0, 0\n");
  out->append("scale: 100%, 100%\n");
  out->append("alpha: 100%\n");
  out->append("smooth: OFF\n");
  out->append("fadein/out: 50, 50\n");
  out->append("align: OFF at LEFT TOP\n");
  out->append("time offset: 0\n");
  out->append("forced subs: OFF\n");
}

void AppendVobSubPalette(std::string* out, const Rgb (&palette)[kPaletteColours]) {
  out->append("palette: ");
  for (int i = 0; i < kPaletteColours; ++i)
    AppendFormat(out, "%s%.2x%.2x%.2x", i ? ", " : "", palette[i].red, palette[i].green,
                 palette[i].blue);
  out->append("\n");
}

void AppendVobSubStream(std::string* out, int stream) {
  AppendFormat(out, "langidx: %d\nid: xx, index: %d\n", stream, stream);
}

void AppendVobSubEntriesStart(std::string* out) {
  out->append("\n");
}

void AppendVobSubTimestamp(std::string* out, uint32_t t, uint64_t file_position) {
  AppendFormat(out, "timestamp: %.2d:%.2d:%.2d:%.3d, filepos: %.9" PRIx64 "\n",
               static_cast<int>((t / 324000000u) % 60), static_cast<int>((t / 5400000u) % 60),
               static_cast<int>((t / 90000u) % 60),
               static_cast<int>((t / kTicksPerMillisecond) % 1000), file_position);
}

bool ParseVobSubIndex(const std::string& text, VobSubIndex* index) {
  *index = VobSubIndex();
  LineReader reader(text);
  std::string line;
  if (!reader.Next(&line) || line != kMarker) return false;
  while (reader.Next(&line)) {
    if (line.rfind("size:", 0) == 0) {
      if (std::sscanf(line.c_str(), "size: %dx%d", &index->width, &index->height) != 2 ||
          index->width <= 0 || index->height <= 0)
        return false;
    } else if (line.rfind("palette:", 0) == 0) {
      const char* p = line.c_str() + 8;
      for (int i = 0; i < kPaletteColours; ++i) {
        unsigned rgb = 0;
        int used = 0;
        if (std::sscanf(p, " %6x%n", &rgb, &used) != 1) return false;
        index->palette[i] = {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                             static_cast<uint8_t>(rgb)};
        p += used;
        if (i + 1 < kPaletteColours && *p++ != ',') return false;
      }
    } else if (line.rfind("id:", 0) == 0) {
      if (std::sscanf(line.c_str(), "id: %*[^,], index: %d", &index->stream) != 1) return false;
    } else if (line.rfind("timestamp:", 0) == 0) {
      int h, m, s, ms;
      uint64_t position;
      if (std::sscanf(line.c_str(), "timestamp: %d:%d:%d:%d, filepos: %" SCNx64, &h, &m, &s, &ms,
                      &position) != 5 ||
          h < 0 || m < 0 || s < 0 || ms < 0)
        return false;
      index->entries.push_back(
          {((static_cast<int64_t>(h) * 60 + m) * 60 + s) * 1000 + ms, position});
    }
  }
  return true;
}

}  // namespace tessmar::formats
