#include "tessmar/formats/cell_index.h"

#include <cinttypes>

#include "tessmar/formats/index_text.h"

namespace tessmar::formats {

void AppendCellIndexHead(std::string* out, const std::vector<std::string>& paths) {
  AppendFormat(out, "%s%.2d\n", kCellIndexMagic, kCellIndexVersion);
  AppendFileList(out, paths);
}

void AppendCellLine(std::string* out, const CellLine& cell) {
  AppendFormat(out, "%d %d %d %" PRIx64 "\n", cell.vob_id, cell.cell_id, cell.file, cell.offset);
}

bool ScanCellLine(const std::string& line, CellLine* cell) {
  FieldScan in(line);
  return in.Dec(&cell->vob_id) && in.Dec(&cell->cell_id) && in.Dec(&cell->file) &&
         in.Hex64(&cell->offset);
}

}  // namespace tessmar::formats
