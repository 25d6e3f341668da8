// The title rebuild: cuts one program chain (and angle) of a title set out of
// the indexes that a finished index run left. Runs on the caller's thread and
// shares nothing with the index run.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "dvd/byte_order.h"
#include "dvd/ifo_layout.h"
#include "tessmar/formats/audio_index.h"
#include "tessmar/formats/cell_index.h"
#include "tessmar/formats/d2v.h"
#include "tessmar/formats/index_text.h"
#include "tessmar/formats/subpicture_index.h"
#include "tessmar/formats/video_index.h"
#include "tessmar/formats/virtual_file_map.h"
#include "tessmar/formats/vobsub_index.h"
#include "tessmar/include/tessmar.h"
#include "tessmar/sound_placement.h"
#include "tessmar/text_out.h"

namespace tessmar {
namespace {

using dvd::Be16;
using dvd::Be32;
using dvd::FromBcd;
using formats::FieldScan;
using formats::LineReader;

constexpr size_t kSector = dvd::kSectorSize;
constexpr int kMaxVobFiles = 9;

struct Cell {
  int vob_id = 0;
  int cell_id = 0;
  int angle = 0x11;
  int hours = 0, minutes = 0, seconds = 0;
  int frames = 0;  // binary frames with the rate bits 7-6
  bool stc_discontinuity = false;
  bool Dropped() const { return vob_id == 0 && cell_id == 0; }
};

struct Title {
  std::vector<Cell> cells;
  uint8_t palette[16][4] = {};  // 0, Y, Cr, Cb
  uint8_t video_attributes[2] = {};
};

// Runs of entries keyed by (vob_id, cell_id), in insertion order.
struct Run {
  size_t first;
  size_t count;
};
class RunTable {
 public:
  static uint64_t Key(int vob_id, int cell_id) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(vob_id)) << 32) |
           static_cast<uint32_t>(cell_id);
  }
  void Add(int vob_id, int cell_id, size_t first, size_t count) {
    table_[Key(vob_id, cell_id)].push_back({first, count});
  }
  const std::vector<Run>* Find(int vob_id, int cell_id) const {
    auto it = table_.find(Key(vob_id, cell_id));
    return it == table_.end() ? nullptr : &it->second;
  }

 private:
  std::unordered_map<uint64_t, std::vector<Run>> table_;
};

// Adds consecutive entries with the same key as one run each.
class RunBuilder {
 public:
  explicit RunBuilder(RunTable* table) : table_(table) {}
  void Entry(int vob_id, int cell_id, size_t index) {
    if (count_ > 0 && (vob_id != vob_id_ || cell_id != cell_id_)) Close();
    if (count_ == 0) {
      vob_id_ = vob_id;
      cell_id_ = cell_id;
      first_ = index;
    }
    ++count_;
  }
  void Close() {
    if (count_ > 0) table_->Add(vob_id_, cell_id_, first_, count_);
    count_ = 0;
  }

 private:
  RunTable* table_;
  int vob_id_ = 0, cell_id_ = 0;
  size_t first_ = 0, count_ = 0;
};

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------------- IFO

bool ReadAt(int fd, uint64_t offset, size_t size, std::vector<uint8_t>* out) {
  out->resize(size);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, out->data() + done, size - done, static_cast<off_t>(offset + done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A VTS table from its sector: the first sector, then all of it when its
// last byte lies further.
bool LoadTable(int fd, uint32_t sector, std::vector<uint8_t>* table) {
  if (sector == 0) return false;
  uint64_t at = uint64_t{sector} * kSector;
  if (!ReadAt(fd, at, kSector, table)) return false;
  uint64_t size = uint64_t{Be32(table->data() + dvd::kTableEndOffset)} + 1;
  if (size > kSector) {
    if (size > (uint64_t{1} << 26) || !ReadAt(fd, at, static_cast<size_t>(size), table))
      return false;
  }
  return true;
}

// Angle codes: k * 16 + i for the i-th of k cells in an angle block, 0x11
// for a cell outside blocks. `playback` is the PGC's cell playback table.
void AssignAngleCodes(const uint8_t* playback, Title* title) {
  auto block_mode = [playback](size_t cell) {
    return playback[dvd::kCellPlaybackSize * cell] >> 6;
  };
  for (size_t i = 0; i < title->cells.size();) {
    int mode = block_mode(i);
    if (mode == 0) {
      title->cells[i].angle = 0x11;
      ++i;
      continue;
    }
    size_t end = i + 1;  // a block runs to its last cell (mode 3)
    if (mode != 3) {
      while (end < title->cells.size()) {
        int m = block_mode(end);
        if (m == 0 || m == 1) break;
        ++end;
        if (m == 3) break;
      }
    }
    size_t k = std::min<size_t>(end - i, 15);
    for (size_t j = i; j < end; ++j)
      title->cells[j].angle = static_cast<int>(k * 16 + std::min<size_t>(j - i + 1, 15));
    i = end;
  }
}

// Drops the cells of the other angles of every block that has `angle`.
void KeepOneAngle(int angle, Title* title) {
  for (Cell& c : title->cells) {
    if (c.angle / 16 >= angle && c.angle % 16 != angle) c.vob_id = c.cell_id = 0;
  }
}

bool ReadTitle(const char* ifo_path, int pgc, int angle, Title* title) {
  int fd = ::open(ifo_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<uint8_t> head, pgcit;
  bool ok = ReadAt(fd, 0, kSector, &head) &&
            std::memcmp(head.data(), dvd::kVtsIdentifier, dvd::kVtsIdentifierSize) == 0 &&
            LoadTable(fd, Be32(head.data() + dvd::kPgciSectorOffset), &pgcit);
  ::close(fd);
  if (!ok) return false;
  title->video_attributes[0] = head[dvd::kVideoAttributesOffset];
  title->video_attributes[1] = head[dvd::kVideoAttributesOffset + 1];

  const size_t size = pgcit.size();
  uint32_t count = Be16(pgcit.data());
  if (pgc < 1 || static_cast<uint32_t>(pgc) > count) return false;
  size_t pointer = dvd::kPgciHeaderSize + dvd::kPgciEntrySize * static_cast<size_t>(pgc - 1);
  if (pointer + dvd::kPgciEntrySize > size) return false;
  size_t start = Be32(pgcit.data() + pointer + dvd::kPgciEntryStartOffset);
  if (start + dvd::kPgcHeaderSize > size) return false;
  const uint8_t* p = pgcit.data() + start;
  int cells = p[dvd::kPgcCellCountOffset];
  for (int i = 0; i < 16; ++i)
    std::memcpy(title->palette[i], p + dvd::kPgcPaletteOffset + 4 * i, 4);
  const size_t playback_offset = Be16(p + dvd::kPgcCellTableOffset);
  const size_t position_offset = Be16(p + dvd::kPgcCellPositionTableOffset);
  size_t playback = start + playback_offset;
  size_t position = start + position_offset;
  if (cells > 0 && (playback_offset == 0 || position_offset == 0 ||
                    playback + dvd::kCellPlaybackSize * static_cast<size_t>(cells) > size ||
                    position + dvd::kCellPositionSize * static_cast<size_t>(cells) > size))
    return false;
  title->cells.resize(static_cast<size_t>(cells));
  for (int i = 0; i < cells; ++i) {
    const uint8_t* play = pgcit.data() + playback + dvd::kCellPlaybackSize * static_cast<size_t>(i);
    const uint8_t* pos = pgcit.data() + position + dvd::kCellPositionSize * static_cast<size_t>(i);
    Cell& c = title->cells[static_cast<size_t>(i)];
    c.vob_id = static_cast<int>(Be16(pos));
    c.cell_id = pos[dvd::kCellPositionCellIdOffset];
    if (c.vob_id == 0) c.vob_id = 1;
    if (c.cell_id == 0) c.cell_id = 1;
    c.stc_discontinuity = (play[0] & dvd::kCellStcDiscontinuity) != 0;
    const uint8_t* time = play + dvd::kCellPlayingTimeOffset;
    c.hours = FromBcd(time[0]);
    c.minutes = FromBcd(time[1]);
    c.seconds = FromBcd(time[2]);
    c.frames = FromBcd(time[3] & 0x3F) | (time[3] & 0xC0);
  }
  AssignAngleCodes(pgcit.data() + playback, title);
  if (angle > 0) KeepOneAngle(angle, title);
  return true;
}

// -------------------------------------------------------------------- video

struct VobSet {
  std::vector<std::string> paths;
  std::vector<int64_t> sizes;
  std::vector<int64_t> cum;  // cum[i] = size of files 0 to i
  int64_t Virtual(int file, int64_t offset) const {
    return offset + (file > 0 ? cum[static_cast<size_t>(file) - 1] : 0);
  }
  int Count() const { return static_cast<int>(paths.size()); }
};

// Where each cell of the title set starts in its VOB files, by (vob_id,
// cell_id).
struct CellIndex {
  struct Entry {
    int file;
    int64_t offset;
  };
  std::vector<Entry> entries;
  RunTable runs;
};

bool ReadCellIndex(const std::string& vts, CellIndex* index) {
  LineReader qmci;
  std::string line;
  int version = 0;
  if (!qmci.Open(vts + ".qmci") || !qmci.Next(&line) ||
      !formats::ScanHead(line, formats::kCellIndexMagic, &version) ||
      version > formats::kCellIndexVersion)
    return false;
  int files = 0;
  if (!qmci.NextNonEmpty(&line) || !formats::ScanInt(line, &files) || files < 0) return false;
  for (int i = 0; i < files; ++i)
    if (!qmci.NextNonEmpty(&line)) return false;
  while (qmci.NextNonEmpty(&line)) {
    formats::CellLine cell;
    if (!formats::ScanCellLine(line, &cell)) return formats::IsEndMark(line);
    if (cell.file < 0 || cell.offset > (uint64_t{1} << 62)) return false;
    index->runs.Add(cell.vob_id, cell.cell_id, index->entries.size(), 1);
    index->entries.push_back({cell.file, static_cast<int64_t>(cell.offset)});
  }
  return false;  // no end mark
}

// The project file's head: its version, and the VOB files as they are on
// disk now. The reader stays at the header lines that follow.
bool ReadProjectHead(const std::string& vts, LineReader* d2v, int* version, VobSet* vobs) {
  std::string line;
  if (!d2v->Open(vts + ".d2v") || !d2v->Next(&line) || !formats::ScanD2vHead(line, version) ||
      *version > formats::kD2vMaxVersion)
    return false;
  int count = 0;
  if (!d2v->NextNonEmpty(&line) || !formats::ScanInt(line, &count) || count < 1 ||
      count > kMaxVobFiles)
    return false;
  for (int i = 0; i < count; ++i) {
    std::string path;
    if (!d2v->NextNonEmpty(&line) || !formats::ScanD2vPathLine(line, &path)) return false;
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    vobs->paths.push_back(path);
    vobs->sizes.push_back(st.st_size);
    vobs->cum.push_back((vobs->cum.empty() ? 0 : vobs->cum.back()) + st.st_size);
  }
  return true;
}

// Creates the title's map and video index with their heads: the project
// file's header lines are copied, its location replaced.
bool WriteHeads(const std::string& title_base, int d2v_version, const VobSet& vobs, LineReader* d2v,
                OutFile* vfm, OutFile* qmvi) {
  std::string text;
  if (!vfm->Create(title_base + ".vfm", nullptr)) return false;
  formats::AppendVirtualFileMapHead(&text, vobs.paths);
  vfm->Text(text);
  if (!qmvi->Create(title_base + ".qmvi", nullptr)) return false;
  std::string vfm_name = title_base.substr(title_base.rfind('/') + 1) + ".vfm";
  text.clear();
  formats::AppendVideoIndexHead(&text, d2v_version, vfm_name);
  qmvi->Text(text);
  std::string line;
  for (int i = 0; i < formats::kD2vHeaderLines; ++i) {
    if (!d2v->NextNonEmpty(&line)) return false;
    qmvi->Text(line.c_str());  // as a formatted write of "%s\n" would
    qmvi->Text("\n");
  }
  if (!d2v->NextNonEmpty(&line)) return false;  // Location=, replaced
  qmvi->Text(formats::kVideoIndexLocation);
  return true;
}

// The project file's GOP lines, with their positions in the VOB files taken
// as one virtual file. The frame flags of all lines are kept in one text, so
// that a long title makes no small allocation per line.
struct GopTable {
  struct Line {
    int64_t position;
    size_t flags_at;
    size_t flags_size;
  };
  std::vector<Line> lines;
  std::string flags;
  RunTable runs;
};

bool ReadGopLines(LineReader* d2v, const VobSet& vobs, GopTable* gops) {
  RunBuilder runs(&gops->runs);
  std::string line;
  bool last_seen = false;
  while (!last_seen) {
    formats::GopLineHead gop;
    if (!d2v->NextNonEmpty(&line) || !formats::ScanGopLine(line, &gop) || gop.file < 0 ||
        gop.file >= vobs.Count())
      return false;
    last_seen = gop.last;
    runs.Entry(gop.vob_id, gop.cell_id, gops->lines.size());
    gops->lines.push_back(
        {vobs.Virtual(gop.file, gop.position), gops->flags.size(), gop.flags.size()});
    gops->flags += gop.flags;
  }
  runs.Close();
  return true;
}

// The segments that hold `length` bytes from `offset` in VOB file `file` on,
// running on into the following files.
void AppendVobSegments(const VobSet& vobs, int file, int64_t offset, int64_t length,
                       std::string* text) {
  for (int64_t left = length; left > 0;) {
    int64_t in_file = vobs.sizes[static_cast<size_t>(file)] - offset;
    if (left > in_file && file + 1 < vobs.Count()) {
      if (in_file > 0)
        formats::AppendSegment(text, file, static_cast<uint64_t>(offset),
                               static_cast<uint64_t>(in_file));
      left -= std::max<int64_t>(in_file, 0);
      ++file;
      offset = 0;
    } else {
      formats::AppendSegment(text, file, static_cast<uint64_t>(offset),
                             static_cast<uint64_t>(left));
      left = 0;
    }
  }
}

// Writes the title's bytes in playing order to its map, and its GOPs, at
// their places in that virtual file, to its video index. Returns the number
// of GOP lines written.
int WriteTitleCells(const Title& title, const CellIndex& cells, const VobSet& vobs,
                    const GopTable& gops, OutFile* vfm, OutFile* qmvi) {
  int64_t written = 0;
  int gop_lines = 0;
  std::string text;
  for (const Cell& cell : title.cells) {
    if (cell.Dropped()) continue;
    const std::vector<Run>* cell_runs = cells.runs.Find(cell.vob_id, cell.cell_id);
    const std::vector<Run>* gop_runs = gops.runs.Find(cell.vob_id, cell.cell_id);
    if (!cell_runs || !gop_runs) continue;
    for (size_t k = 0; k < cell_runs->size() && k < gop_runs->size(); ++k) {
      const size_t index = (*cell_runs)[k].first;
      const CellIndex::Entry& entry = cells.entries[index];
      const int64_t start = vobs.Virtual(entry.file, entry.offset);
      const int64_t end =
          index + 1 < cells.entries.size()
              ? vobs.Virtual(cells.entries[index + 1].file, cells.entries[index + 1].offset)
              : vobs.cum.back();
      const int64_t length = end > start ? end - start : 0;
      text.clear();
      AppendVobSegments(vobs, entry.file, entry.offset, length, &text);
      vfm->Text(text);
      const Run& gop_run = (*gop_runs)[k];
      text.clear();
      for (size_t g = gop_run.first; g < gop_run.first + gop_run.count; ++g) {
        const GopTable::Line& gop = gops.lines[g];
        formats::AppendVideoIndexGopHead(&text, gop.position - start + written, cell.vob_id,
                                         cell.cell_id);
        text.append(gops.flags, gop.flags_at, gop.flags_size);
        ++gop_lines;
      }
      qmvi->Text(text);
      written += length;
    }
  }
  return gop_lines;
}

bool VideoPart(const std::string& vts, const std::string& title_base, const Title& title) {
  CellIndex cells;
  LineReader d2v;
  int d2v_version = 0;
  VobSet vobs;
  if (!ReadCellIndex(vts, &cells) || !ReadProjectHead(vts, &d2v, &d2v_version, &vobs)) return false;
  for (const CellIndex::Entry& e : cells.entries)
    if (e.file >= vobs.Count()) return false;
  OutFile vfm, qmvi;
  GopTable gops;
  if (!WriteHeads(title_base, d2v_version, vobs, &d2v, &vfm, &qmvi) ||
      !ReadGopLines(&d2v, vobs, &gops))
    return false;
  const int gop_lines = WriteTitleCells(title, cells, vobs, gops, &vfm, &qmvi);
  vfm.Text(formats::kEndMark);
  if (gop_lines == 0) return false;
  std::string trailer, text;
  d2v.NextNonEmpty(&trailer);
  formats::AppendVideoIndexEnd(&text, trailer);
  qmvi.Text(text);
  return true;
}

// ------------------------------------------------------------------- audio

// What placing the title's sound needs: its kept cells in playing order with
// their first navigation packs and the fields of picture they show, and the
// title set's VOB files and frame rate. False when the indexes cannot be
// read; the sound is then joined as its bytes run.
bool ReadTimeline(const std::string& vts, const Title& title,
                  std::vector<SoundPlacement::Cell>* cells, VobSet* vobs, double* frame_rate) {
  CellIndex index;
  LineReader d2v;
  int version = 0;
  if (!ReadCellIndex(vts, &index) || !ReadProjectHead(vts, &d2v, &version, vobs)) return false;
  std::string line;
  int milli = 0;
  const std::string rate_key = std::string(formats::kFrameRateKey) + "=";
  for (int i = 0; i <= formats::kD2vHeaderLines; ++i) {  // and Location=
    if (!d2v.NextNonEmpty(&line)) return false;
    if (line.compare(0, rate_key.size(), rate_key) == 0 &&
        !formats::ScanInt(line.substr(rate_key.size()), &milli))
      return false;
  }
  GopTable gops;
  if (!ReadGopLines(&d2v, *vobs, &gops)) return false;
  *frame_rate = FrameRateOf(milli);
  for (const Cell& cell : title.cells) {
    if (cell.Dropped()) continue;
    SoundPlacement::Cell placed;
    const std::vector<Run>* cell_runs = index.runs.Find(cell.vob_id, cell.cell_id);
    const std::vector<Run>* gop_runs = gops.runs.Find(cell.vob_id, cell.cell_id);
    if (cell_runs && gop_runs) {
      const CellIndex::Entry& first = index.entries[(*cell_runs)[0].first];
      if (first.file < vobs->Count()) {
        placed.file = first.file;
        placed.nav_offset = first.offset;
      }
      for (size_t k = 0; k < cell_runs->size() && k < gop_runs->size(); ++k)
        for (size_t g = (*gop_runs)[k].first; g < (*gop_runs)[k].first + (*gop_runs)[k].count; ++g)
          placed.fields += FieldsOf(gops.flags, gops.lines[g].flags_at, gops.lines[g].flags_size);
    }
    cells->push_back(placed);
  }
  return true;
}

// Copies an audio index's head (its file list) into the audio map's.
bool CopyAudioHead(LineReader* qmai, OutFile* out) {
  std::string line, text;
  int version = 0;
  if (!qmai->Next(&line) || !formats::ScanHead(line, formats::kAudioIndexMagic, &version) ||
      version > formats::kAudioIndexVersion)
    return false;
  formats::AppendVirtualFileMapMagic(&text);
  int files = 0;
  if (!qmai->NextNonEmpty(&line) || !formats::ScanInt(line, &files) || files < 0) return false;
  formats::AppendFileCount(&text, files);
  for (int i = 0; i < files; ++i) {
    if (!qmai->NextNonEmpty(&line)) return false;
    formats::AppendFilePath(&text, line);
  }
  formats::AppendFileListEnd(&text);
  out->Text(text);
  return true;
}

// An audio index's entries, keyed by cell; false without its end mark.
struct AudioIndex {
  struct Entry {  // what the map needs of an index entry
    int file;
    unsigned length;
    uint64_t offset;
  };
  std::vector<Entry> entries;
  RunTable runs;
};

bool ReadAudioEntries(LineReader* qmai, AudioIndex* index) {
  RunBuilder runs(&index->runs);
  std::string line;
  bool end_mark = false;
  while (qmai->NextNonEmpty(&line)) {
    formats::AudioEntry e;
    if (!formats::ScanAudioEntry(line, &e)) {
      end_mark = formats::IsEndMark(line);
      break;
    }
    runs.Entry(e.vob_id, e.cell_id, index->entries.size());
    index->entries.push_back({e.file, e.length, e.offset});
  }
  runs.Close();
  return end_mark;
}

// Calls `visit(kept cell, entry)` for the title's audio entries in playing
// order, each run of a cell's entries after the other, until it returns false.
template <typename F>
void ForEachAudioEntry(const Title& title, const AudioIndex& index, F visit) {
  size_t kept = 0;
  for (const Cell& cell : title.cells) {
    if (cell.Dropped()) continue;
    const size_t c = kept++;
    const std::vector<Run>* r = index.runs.Find(cell.vob_id, cell.cell_id);
    if (!r) continue;
    for (const Run& run : *r)
      for (size_t i = run.first; i < run.first + run.count; ++i)
        if (!visit(c, i, i == run.first)) return;
  }
}

// Whether the title's sound can be placed: its first packet with a time
// stamp lies in a cell whose picture has one too.
bool CanPlace(const Title& title, const AudioIndex& index, const SoundPlacement& placement,
              StampReader* stamps) {
  bool placeable = false;
  ForEachAudioEntry(title, index, [&](size_t c, size_t i, bool) {
    const AudioIndex::Entry& e = index.entries[i];
    uint32_t pts = 0;
    int64_t ticks = 0;
    if (!stamps->PayloadPts(e.file, static_cast<int64_t>(e.offset), &pts)) return true;
    placeable = placement.TitleTicks(c, pts, &ticks);
    return false;
  });
  return placeable;
}

// The sound's payloads in the title's playing order. With a placement, each
// run of a cell's payloads is headed by the time at which its first packet
// with a time stamp is heard; the payloads before the map's first such
// packet only end a frame that began outside the title and are left out.
void WriteAudioCells(const Title& title, const AudioIndex& index, const SoundPlacement* placement,
                     StampReader* stamps, OutFile* out) {
  const bool placing = placement && CanPlace(title, index, *placement, stamps);
  bool placed_any = false, run_placed = false;
  std::string text;
  ForEachAudioEntry(title, index, [&](size_t c, size_t i, bool run_start) {
    const AudioIndex::Entry& e = index.entries[i];
    if (run_start) run_placed = !placing;
    uint32_t pts = 0;
    int64_t ticks = 0;
    if (!run_placed && stamps->PayloadPts(e.file, static_cast<int64_t>(e.offset), &pts)) {
      run_placed = true;
      if (placement->TitleTicks(c, pts, &ticks)) {
        formats::AppendAnchor(&text, ticks);
        placed_any = true;
      }
    }
    if (!placing || placed_any) formats::AppendSegment(&text, e.file, e.offset, e.length);
    if (text.size() > (64 << 10)) {
      out->Text(text);
      text.clear();
    }
    return true;
  });
  out->Text(text);
}

bool AudioPart(const std::string& vts, const std::string& title_base, const Title& title) {
  std::vector<SoundPlacement::Cell> cells;
  VobSet vobs;
  double frame_rate = 0;
  const bool timeline = ReadTimeline(vts, title, &cells, &vobs, &frame_rate);
  StampReader stamps(vobs.paths);
  const SoundPlacement placement(cells, frame_rate, &stamps);
  for (int n = 0; n < formats::kMaxAudioStreams; ++n) {
    std::string index_path = formats::AudioIndexName(vts, n);
    if (!Exists(index_path)) continue;
    LineReader qmai;
    OutFile out;
    AudioIndex index;
    if (!qmai.Open(index_path) || !out.Create(formats::AudioMapName(title_base, n), nullptr) ||
        !CopyAudioHead(&qmai, &out) || !ReadAudioEntries(&qmai, &index))
      return false;
    WriteAudioCells(title, index, timeline ? &placement : nullptr, &stamps, &out);
    out.Text(formats::kEndMark);
  }
  return true;
}

// ------------------------------------------------------------ sub-pictures

// The PGC's colour table as RGB, with the luma scaled so that the table's
// mean maps to 255.
void Palette(const Title& title, formats::Rgb (&rgb)[formats::kPaletteColours]) {
  double sum = 0;
  for (const auto& c : title.palette) sum += c[1];
  double factor = 4080.0 / sum;  // +inf for a table of zeros: every colour black below
  for (int i = 0; i < formats::kPaletteColours; ++i) {
    const uint8_t* c = title.palette[i];
    double scaled = c[1] * factor;
    int y = sum > 0 ? (scaled >= 255.0 ? 255 : static_cast<int>(scaled)) : 0;
    int cr = c[2] - 128;
    int cb = c[3] - 128;
    auto clamp = [](double v) {
      int x = static_cast<int>(v);
      return static_cast<uint8_t>(x <= 0 ? 0 : (x >= 255 ? 255 : x));
    };
    rgb[i].red = sum > 0 ? clamp(y + 1.402 * cr) : 0;
    rgb[i].green = sum > 0 ? clamp(y - 0.34414 * cb - 0.71414 * cr) : 0;
    rgb[i].blue = sum > 0 ? clamp(y + 1.772 * cb) : 0;
  }
}

bool SubpicturePart(const std::string& vts, const std::string& title_base, const Title& title) {
  for (int n = 0; n < formats::kMaxSubpictureStreams; ++n) {
    std::string index_path = formats::SubpictureIndexName(vts, n);
    if (!Exists(index_path)) continue;
    LineReader qmsi;
    OutFile idx;
    if (!qmsi.Open(index_path) || !idx.Create(formats::VobSubIndexName(title_base, n), nullptr))
      return false;
    std::string line, text;
    int version = 0;
    if (!qmsi.Next(&line) || !formats::ScanHead(line, formats::kSubpictureIndexMagic, &version) ||
        version > formats::kSubpictureIndexVersion)
      return false;
    int standard = (title.video_attributes[0] >> 4) & 3;
    int resolution = (title.video_attributes[1] >> 2) & 3;
    if (standard > 1) return false;
    static const int kWidths[4] = {720, 704, 352, 352};
    int height = standard == 0 ? 480 : 576;
    if (resolution == 3) height /= 2;
    formats::Rgb palette[formats::kPaletteColours];
    Palette(title, palette);
    formats::AppendVobSubHead(&text, kWidths[resolution], height);
    formats::AppendVobSubPalette(&text, palette);
    formats::AppendVobSubStream(&text, n);
    idx.Text(text);
    struct Entry {  // what the time stamps need of an index entry
      unsigned pts;
      uint64_t offset;
    };
    std::vector<Entry> entries;
    RunTable table;
    RunBuilder runs(&table);
    bool end_mark = false;
    while (qmsi.NextNonEmpty(&line)) {
      formats::SubpictureEntry e;
      if (!formats::ScanSubpictureEntry(line, &e)) {
        end_mark = formats::IsEndMark(line);
        break;
      }
      runs.Entry(e.vob_id, e.cell_id, entries.size());
      entries.push_back({e.pts, e.offset});
    }
    runs.Close();
    if (!end_mark) return false;
    text.clear();
    formats::AppendVobSubEntriesStart(&text);
    // Time stamps follow the title's playing time: an STC discontinuity
    // restarts the cell's PTS from the time played so far.
    uint32_t elapsed = 0, base = 0;
    for (const Cell& cell : title.cells) {
      if (cell.Dropped()) continue;
      if (cell.stc_discontinuity) base = elapsed;
      uint32_t rate = (cell.frames >> 6) == 1 ? 25 : 30;
      elapsed +=
          static_cast<uint32_t>((cell.frames & 0x3F) * 90000u / rate) +
          static_cast<uint32_t>(cell.hours * 3600 + cell.minutes * 60 + cell.seconds) * 90000u;
      const std::vector<Run>* r = table.Find(cell.vob_id, cell.cell_id);
      if (!r) continue;
      for (const Run& run : *r)
        for (size_t i = run.first; i < run.first + run.count; ++i)
          formats::AppendVobSubTimestamp(&text, base + entries[i].pts, entries[i].offset);
    }
    idx.Text(text);
  }
  return true;
}

}  // namespace
}  // namespace tessmar

namespace tessmar {
namespace {

// A rebuild of a long title allocates and frees tens of megabytes in many
// pieces; the C library keeps what was freed for later allocations, where it
// would stay in the caller's process for good. It is handed back to the
// system when the call returns.
struct ReturnFreedMemory {
  ~ReturnFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
  }
};

}  // namespace
}  // namespace tessmar

extern "C" uint8_t qmRebuild(const char* vtsBase, const char* ifoPath, const char* titleBase,
                             int32_t wantVideo, int32_t wantAudio, int32_t wantSubpictures,
                             int32_t pgc, int32_t angle) {
  using namespace tessmar;
  if (!wantVideo && !wantAudio && !wantSubpictures) return 1;
  ReturnFreedMemory on_return;
  if (!vtsBase || !ifoPath || !titleBase || !*vtsBase || !*titleBase) return 0;
  Title title;
  if (!ReadTitle(ifoPath, pgc, angle, &title)) return 0;
  std::string vts(vtsBase), base(titleBase);
  if (wantVideo && !VideoPart(vts, base, title)) return 0;
  if (wantAudio && !AudioPart(vts, base, title)) return 0;
  if (wantSubpictures && !SubpicturePart(vts, base, title)) return 0;
  return 1;
}
