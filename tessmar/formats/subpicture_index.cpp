#include "tessmar/formats/subpicture_index.h"

#include <cinttypes>

#include "tessmar/formats/index_text.h"

namespace tessmar::formats {

std::string SubpictureIndexName(const std::string& base, int stream) {
  return base + Format("_st%d.qmsi", stream);
}

std::string SubpictureStreamName(const std::string& base, int stream) {
  return base + Format("_st%d.sub", stream);
}

void AppendSubpictureIndexHead(std::string* out) {
  AppendFormat(out, "%s%.2d\n\n", kSubpictureIndexMagic, kSubpictureIndexVersion);
}

void AppendSubpictureEntry(std::string* out, const SubpictureEntry& e) {
  AppendFormat(out, "%d %d %x %" PRIx64 "\n", e.vob_id, e.cell_id, e.pts, e.offset);
}

bool ScanSubpictureEntry(const std::string& line, SubpictureEntry* e) {
  FieldScan in(line);
  return in.Dec(&e->vob_id) && in.Dec(&e->cell_id) && in.Hex32(&e->pts) && in.Hex64(&e->offset);
}

}  // namespace tessmar::formats
