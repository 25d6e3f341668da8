// The cell index (".qmci") of a title set: where each cell of the VOB files
// begins, as the navigation packs of the index run found them.
//
//   qmCellIndex10
//   <file count>
//   <path of each file>
//   <empty line>
//   <vob_id> <cell_id> <file index> <offset of the navigation pack, hex>
//   ...
//   <empty line>
//   .              (only when the run finished)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessmar::formats {

inline constexpr char kCellIndexMagic[] = "qmCellIndex";
inline constexpr int kCellIndexVersion = 10;

struct CellLine {
  int vob_id = 0;
  int cell_id = 0;
  int file = 0;
  uint64_t offset = 0;
};

// The head with the file list.
void AppendCellIndexHead(std::string* out, const std::vector<std::string>& paths);
void AppendCellLine(std::string* out, const CellLine& cell);
// False when the line is not a cell line (the end mark, for one).
bool ScanCellLine(const std::string& line, CellLine* cell);

}  // namespace tessmar::formats
