#include "dvd/ifo_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "dvd/byte_order.h"
#include "platform/file_system.h"

namespace dvd {

AudioStreamControl PgcAudioControl(std::span<const uint8_t> pgc, int k) {
  AudioStreamControl control;
  size_t at = kPgcAudioControlOffset + 2 * static_cast<size_t>(k);
  if (k < 0 || k >= kMaxAudioStreams || at >= pgc.size()) return control;
  control.available = (pgc[at] & 0x80) != 0;
  control.stream = pgc[at] & 0x7F;
  return control;
}

SubpictureStreamControl PgcSubpictureControl(std::span<const uint8_t> pgc, int k) {
  SubpictureStreamControl control;
  size_t at = kPgcSubpictureControlOffset + 4 * static_cast<size_t>(k);
  if (k < 0 || k >= kMaxSubpictureStreams || at + 1 >= pgc.size()) return control;
  control.available = (pgc[at] & 0x80) != 0;
  control.stream_4_3 = pgc[at] & 0x7F;
  control.stream_wide = pgc[at + 1];
  return control;
}

std::unique_ptr<IfoFile> IfoFile::Open(const std::string& dvd_folder, int title_set) {
  char name[32];
  std::snprintf(name, sizeof name, "VTS_%.2d_0.IFO", title_set);
  std::string path = platform::JoinPath(dvd_folder, name);
  if (!platform::FileExists(path)) {
    // Copies made on case-sensitive file systems may carry lower-case names.
    std::vector<std::string> found = platform::FindFiles(dvd_folder, name);
    if (!found.empty()) path = platform::JoinPath(dvd_folder, found.front());
  }
  return OpenPath(path);
}

std::unique_ptr<IfoFile> IfoFile::OpenPath(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return nullptr;
  return OpenSource(file, {});
}

std::unique_ptr<IfoFile> IfoFile::OpenBytes(std::span<const uint8_t> bytes) {
  try {
    return OpenSource(nullptr, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<IfoFile> IfoFile::OpenSource(std::FILE* file, std::vector<uint8_t> memory) {
  std::unique_ptr<IfoFile> ifo(new (std::nothrow) IfoFile);
  if (!ifo) {
    if (file) std::fclose(file);
    return nullptr;
  }
  ifo->file_ = file;  // closed by the destructor from here on
  ifo->memory_ = std::move(memory);
  ifo->source_size_ = ifo->SourceSize();
  if (!ifo->ReadAt(0, kSectorSize, ifo->first_sector_)) return nullptr;
  if (std::memcmp(ifo->first_sector_, kVtsIdentifier, kVtsIdentifierSize) != 0) return nullptr;
  try {
    ifo->LoadPgcTable();
  } catch (const std::bad_alloc&) {
    ifo->pgc_table_.clear();
  }
  return ifo;
}

IfoFile::~IfoFile() {
  if (file_) std::fclose(file_);
}

uint64_t IfoFile::SourceSize() const {
  if (!file_) return memory_.size();
  if (fseeko(file_, 0, SEEK_END) != 0) return 0;
  off_t end = ftello(file_);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

bool IfoFile::ReadAt(uint64_t offset, size_t size, uint8_t* out) const {
  if (offset > source_size_ || size > source_size_ - offset) return false;
  if (!file_) {
    std::memcpy(out, memory_.data() + offset, size);
    return true;
  }
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  return std::fread(out, 1, size, file_) == size;
}

void IfoFile::LoadPgcTable() {
  uint32_t sector = Be32(first_sector_ + kPgciSectorOffset);
  if (sector == 0) return;
  uint64_t offset = static_cast<uint64_t>(sector) * kSectorSize;
  if (offset >= source_size_) return;
  // A table in the file's last sector may come without the sector's padding.
  size_t first = static_cast<size_t>(std::min<uint64_t>(kSectorSize, source_size_ - offset));
  if (first < kPgciHeaderSize) return;
  std::vector<uint8_t> table(first);
  if (!ReadAt(offset, first, table.data())) return;
  uint64_t size = static_cast<uint64_t>(Be32(table.data() + kTableEndOffset)) + 1;
  // The size is checked against the file before anything is allocated for it.
  if (size < kPgciHeaderSize || size > source_size_ - offset) return;
  if (size > table.size()) {
    table.resize(static_cast<size_t>(size));
    if (!ReadAt(offset, table.size(), table.data())) return;
  }
  table.resize(static_cast<size_t>(size));
  pgc_table_ = std::move(table);
}

int IfoFile::PgcCount() const {
  return pgc_table_.empty() ? 0 : Be16(pgc_table_.data());
}

std::optional<std::span<const uint8_t>> IfoFile::Pgc(int i) const {
  if (i < 0 || i >= PgcCount()) return std::nullopt;
  size_t entry = kPgciHeaderSize + kPgciEntrySize * static_cast<size_t>(i);
  if (entry + kPgciEntrySize > pgc_table_.size()) return std::nullopt;
  uint64_t offset = Be32(pgc_table_.data() + entry + kPgciEntryStartOffset);
  if (offset + kPgcHeaderSize > pgc_table_.size()) return std::nullopt;
  return std::span<const uint8_t>(pgc_table_).subspan(static_cast<size_t>(offset));
}

std::optional<std::vector<uint8_t>> IfoFile::CellBlockModes(int i) const {
  std::optional<std::span<const uint8_t>> pgc = Pgc(i);
  if (!pgc) return std::nullopt;
  size_t cells = (*pgc)[kPgcCellCountOffset];
  size_t table = Be16(pgc->data() + kPgcCellTableOffset);
  if (cells > 0 && table + cells * kCellPlaybackSize > pgc->size()) return std::nullopt;
  try {
    std::vector<uint8_t> modes(cells);
    for (size_t c = 0; c < cells; ++c) modes[c] = (*pgc)[table + c * kCellPlaybackSize] >> 6;
    return modes;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<PgcSummary> IfoFile::Summary(int i) const {
  std::optional<std::span<const uint8_t>> pgc = Pgc(i);
  std::optional<std::vector<uint8_t>> modes = CellBlockModes(i);
  if (!pgc || !modes) return std::nullopt;
  PgcSummary summary;
  const uint8_t* time = pgc->data() + kPgcPlayingTimeOffset;
  summary.hours = FromBcd(time[0]);
  summary.minutes = FromBcd(time[1]);
  summary.seconds = FromBcd(time[2]);
  summary.frames_and_rate =
      static_cast<uint8_t>((time[3] & 0xC0) | (FromBcd(time[3] & 0x3F) & 0x3F));
  // The counter ends as the size of the last angle block; ordinary cells after
  // it leave it alone.
  int angles = 0;
  for (uint8_t mode : *modes) {
    if (mode == 1)
      angles = 1;
    else if (mode >= 2)
      ++angles;
  }
  summary.angles = angles;
  return summary;
}

VtsAudioAttr IfoFile::AudioAttributes() const {
  VtsAudioAttr attr;
  attr.count = std::min<int>(first_sector_[kAudioCountOffset], kMaxAudioStreams);
  for (int k = 0; k < kMaxAudioStreams; ++k) {
    const uint8_t* record = first_sector_ + kAudioAttrOffset + kAudioAttrSize * k;
    attr.streams[k].channels = (record[1] & 0x07) + 1;
    attr.streams[k].language = Be16(record + 2);
    attr.streams[k].code_extension = record[5];
  }
  return attr;
}

VtsSubpictureAttr IfoFile::SubpictureAttributes() const {
  VtsSubpictureAttr attr;
  attr.count = std::min<int>(first_sector_[kSubpictureCountOffset], kMaxSubpictureStreams);
  attr.streams.resize(attr.count);
  for (int k = 0; k < attr.count; ++k) {
    const uint8_t* record = first_sector_ + kSubpictureAttrOffset + kSubpictureAttrSize * k;
    attr.streams[k].language = Be16(record + 2);
    attr.streams[k].code_extension = record[5];
  }
  return attr;
}

}  // namespace dvd
