#include "tessmar/formats/audio_index.h"

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
  // "%d %d %d %I64x %x", one line per audio packet: built without printf.
  AppendDec(out, e.file);
  out->push_back(' ');
  AppendDec(out, e.vob_id);
  out->push_back(' ');
  AppendDec(out, e.cell_id);
  out->push_back(' ');
  AppendHex(out, e.offset);
  out->push_back(' ');
  AppendHex(out, e.length);
  out->push_back('\n');
}

bool ScanAudioEntry(const std::string& line, AudioEntry* e) {
  FieldScan in(line);
  return in.Dec(&e->file) && in.Dec(&e->vob_id) && in.Dec(&e->cell_id) && in.Hex64(&e->offset) &&
         in.Hex32(&e->length);
}

}  // namespace tessmar::formats
