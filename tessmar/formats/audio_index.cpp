#include "tessmar/formats/audio_index.h"

#include <cinttypes>

#include "tessmar/formats/index_text.h"

namespace tessmar::formats {

std::string AudioIndexName(const std::string& base, int stream) {
  return base + Format("_at%d.qmai", stream);
}

void AppendAudioIndexHead(std::string* out, const std::vector<std::string>& paths) {
  AppendFormat(out, "%s%.2d\n", kAudioIndexMagic, kAudioIndexVersion);
  AppendFileList(out, paths);
}

void AppendAudioEntry(std::string* out, const AudioEntry& e) {
  AppendFormat(out, "%d %d %d %" PRIx64 " %x\n", e.file, e.vob_id, e.cell_id, e.offset, e.length);
}

bool ScanAudioEntry(const std::string& line, AudioEntry* e) {
  FieldScan in(line);
  return in.Dec(&e->file) && in.Dec(&e->vob_id) && in.Dec(&e->cell_id) && in.Hex64(&e->offset) &&
         in.Hex32(&e->length);
}

}  // namespace tessmar::formats
