// The title rebuild: cuts one program chain (and angle) of a title set out of
// the indexes that a finished index run left. Runs on the caller's thread and
// shares nothing with the index run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "tessmar/include/tessmar.h"
#include "tessmar/text_out.h"

namespace tessmar {
namespace {

constexpr size_t kSector = 2048;
constexpr size_t kMaxBase = 253;  // the longest name built from it fits 264 bytes
constexpr size_t kMaxPath = 259;
constexpr int kMaxVobFiles = 9;

uint32_t Be16(const uint8_t* p) {
  return (uint32_t{p[0]} << 8) | p[1];
}
uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
int Bcd(uint8_t v) {
  return (v >> 4) * 10 + (v & 0x0F);
}

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

// A text file read whole, line by line; CR LF and LF both end a line.
class Lines {
 public:
  bool Open(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text_.append(buf, n);
    std::fclose(f);
    return true;
  }
  // The next line, or false at the end.
  bool Next(std::string* line) {
    if (at_ >= text_.size()) return false;
    size_t end = text_.find('\n', at_);
    if (end == std::string::npos) end = text_.size();
    line->assign(text_, at_, end - at_);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    at_ = end + 1;
    return true;
  }
  // The next line that is not empty (formatted reads pass over blank lines).
  bool NextNonEmpty(std::string* line) {
    while (Next(line))
      if (!line->empty()) return true;
    return false;
  }

 private:
  std::string text_;
  size_t at_ = 0;
};

bool IsEndMark(const std::string& line) {
  size_t i = line.find_first_not_of(" \t");
  return i != std::string::npos && line[i] == '.' &&
         (i + 1 == line.size() || line[i + 1] == ' ' || line[i + 1] == '\t');
}

// Formatted reads of the index lines ("%d", "%I64x", "%x", "%I64d"), without
// the cost of sscanf on files of hundreds of thousands of lines.
class Scan {
 public:
  explicit Scan(const std::string& line) : p_(line.c_str()) {}
  bool Dec(int* out) {
    int64_t v;
    if (!Dec64(&v) || v < INT32_MIN || v > INT32_MAX) return false;
    *out = static_cast<int>(v);
    return true;
  }
  bool Dec64(int64_t* out) {
    Space();
    bool negative = *p_ == '-';
    if (*p_ == '-' || *p_ == '+') ++p_;
    if (*p_ < '0' || *p_ > '9') return false;
    uint64_t v = 0;
    for (; *p_ >= '0' && *p_ <= '9'; ++p_) {
      // Far below the 64-bit limits, so that positions can be added safely.
      if (v > (uint64_t{1} << 58)) return false;
      v = v * 10 + static_cast<uint64_t>(*p_ - '0');
    }
    *out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return true;
  }
  bool Hex64(uint64_t* out) {
    Space();
    int digits = 0;
    uint64_t v = 0;
    for (;; ++p_, ++digits) {
      int d = HexDigit(*p_);
      if (d < 0) break;
      if (digits >= 16) return false;
      v = v << 4 | static_cast<uint64_t>(d);
    }
    *out = v;
    return digits > 0;
  }
  bool Hex32(unsigned* out) {
    uint64_t v;
    if (!Hex64(&v) || v > 0xFFFFFFFFu) return false;
    *out = static_cast<unsigned>(v);
    return true;
  }
  bool Literal(char c) {
    if (*p_ != c) return false;
    ++p_;
    return true;
  }
  const char* Rest() const { return p_; }

 private:
  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  void Space() {
    while (*p_ == ' ' || *p_ == '\t') ++p_;
  }
  const char* p_;
};

// Appends "%d %I64x %x" and a CR LF to `line` (the audio map lines).
void AppendEntry(std::string* line, int file, uint64_t offset, uint64_t length) {
  char buf[64];
  char* p = buf + sizeof buf;
  *--p = '\n';
  *--p = '\r';
  auto hex = [&p](uint64_t v) {
    do {
      *--p = "0123456789abcdef"[v & 15];
      v >>= 4;
    } while (v);
  };
  hex(length);
  *--p = ' ';
  hex(offset);
  *--p = ' ';
  unsigned f =
      file < 0 ? static_cast<unsigned>(-static_cast<int64_t>(file)) : static_cast<unsigned>(file);
  do {
    *--p = static_cast<char>('0' + f % 10);
    f /= 10;
  } while (f);
  if (file < 0) *--p = '-';
  line->append(p, static_cast<size_t>(buf + sizeof buf - p));
}

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
  uint64_t size = uint64_t{Be32(table->data() + 4)} + 1;
  if (size > kSector) {
    if (size > (uint64_t{1} << 26) || !ReadAt(fd, at, static_cast<size_t>(size), table))
      return false;
  }
  return true;
}

bool ReadTitle(const char* ifo_path, int pgc, int angle, Title* title) {
  int fd = ::open(ifo_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<uint8_t> head, pgcit;
  bool ok = ReadAt(fd, 0, kSector, &head) && std::memcmp(head.data(), "DVDVIDEO-VTS", 12) == 0 &&
            LoadTable(fd, Be32(head.data() + 0xCC), &pgcit);
  ::close(fd);
  if (!ok) return false;
  title->video_attributes[0] = head[0x200];
  title->video_attributes[1] = head[0x201];

  const size_t size = pgcit.size();
  uint32_t count = Be16(pgcit.data());
  if (pgc < 1 || static_cast<uint32_t>(pgc) > count) return false;
  size_t pointer = 8 + 8 * static_cast<size_t>(pgc - 1);
  if (pointer + 8 > size) return false;
  size_t start = Be32(pgcit.data() + pointer + 4);
  if (start + 0xEC > size) return false;
  const uint8_t* p = pgcit.data() + start;
  int cells = p[3];
  for (int i = 0; i < 16; ++i) std::memcpy(title->palette[i], p + 0xA4 + 4 * i, 4);
  size_t playback = start + Be16(p + 0xE8);
  size_t position = start + Be16(p + 0xEA);
  if (cells > 0 && (Be16(p + 0xE8) == 0 || Be16(p + 0xEA) == 0 ||
                    playback + 24 * static_cast<size_t>(cells) > size ||
                    position + 4 * static_cast<size_t>(cells) > size))
    return false;
  title->cells.resize(static_cast<size_t>(cells));
  for (int i = 0; i < cells; ++i) {
    const uint8_t* play = pgcit.data() + playback + 24 * static_cast<size_t>(i);
    const uint8_t* pos = pgcit.data() + position + 4 * static_cast<size_t>(i);
    Cell& c = title->cells[static_cast<size_t>(i)];
    c.vob_id = static_cast<int>(Be16(pos));
    c.cell_id = pos[3];
    if (c.vob_id == 0) c.vob_id = 1;
    if (c.cell_id == 0) c.cell_id = 1;
    c.stc_discontinuity = (play[0] & 0x02) != 0;
    c.hours = Bcd(play[4]);
    c.minutes = Bcd(play[5]);
    c.seconds = Bcd(play[6]);
    c.frames = Bcd(play[7] & 0x3F) | (play[7] & 0xC0);
  }
  // Angle codes: k * 16 + i for the i-th of k cells in a block.
  for (size_t i = 0; i < title->cells.size();) {
    const uint8_t* play = pgcit.data() + playback + 24 * i;
    int mode = play[0] >> 6;
    if (mode == 0) {
      title->cells[i].angle = 0x11;
      ++i;
      continue;
    }
    size_t end = i + 1;  // a block runs to its last cell (mode 3)
    if (mode != 3) {
      while (end < title->cells.size()) {
        int m = pgcit[playback + 24 * end] >> 6;
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
  if (angle > 0) {
    for (Cell& c : title->cells) {
      if (c.angle / 16 >= angle && c.angle % 16 != angle) c.vob_id = c.cell_id = 0;
    }
  }
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
};

bool VideoPart(const std::string& vts, const std::string& title_base, const Title& title) {
  // Cell index.
  Lines qmci;
  std::string line;
  int version = 0;
  if (!qmci.Open(vts + ".qmci") || !qmci.Next(&line) ||
      std::sscanf(line.c_str(), "qmCellIndex%d", &version) != 1 || version > 10)
    return false;
  int files = 0;
  if (!qmci.NextNonEmpty(&line) || std::sscanf(line.c_str(), "%d", &files) != 1 || files < 0)
    return false;
  for (int i = 0; i < files; ++i)
    if (!qmci.NextNonEmpty(&line)) return false;
  struct CellEntry {
    int file;
    int64_t offset;
  };
  std::vector<CellEntry> entries;
  RunTable cell_runs;
  bool end_mark = false;
  while (qmci.NextNonEmpty(&line)) {
    int vob_id, cell_id, file;
    uint64_t offset;
    Scan in(line);
    if (!in.Dec(&vob_id) || !in.Dec(&cell_id) || !in.Dec(&file) || !in.Hex64(&offset)) {
      end_mark = IsEndMark(line);
      break;
    }
    if (file < 0 || offset > (uint64_t{1} << 62)) return false;
    cell_runs.Add(vob_id, cell_id, entries.size(), 1);
    entries.push_back({file, static_cast<int64_t>(offset)});
  }
  if (!end_mark) return false;

  // Project file: the VOB files as they are on disk now.
  Lines d2v;
  int d2v_version = 0;
  if (!d2v.Open(vts + ".d2v") || !d2v.Next(&line) ||
      std::sscanf(line.c_str(), "DGIndexProjectFile%d", &d2v_version) != 1 || d2v_version > 6)
    return false;
  int count = 0;
  if (!d2v.NextNonEmpty(&line) || std::sscanf(line.c_str(), "%d", &count) != 1 || count < 1 ||
      count > kMaxVobFiles)
    return false;
  VobSet vobs;
  for (int i = 0; i < count; ++i) {
    int length = 0, used = 0;
    if (!d2v.NextNonEmpty(&line) || std::sscanf(line.c_str(), "%d %n", &length, &used) != 1)
      return false;
    std::string path = line.substr(static_cast<size_t>(used));
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    vobs.paths.push_back(path);
    vobs.sizes.push_back(st.st_size);
    vobs.cum.push_back((vobs.cum.empty() ? 0 : vobs.cum.back()) + st.st_size);
  }
  for (const CellEntry& e : entries)
    if (e.file >= count) return false;

  OutFile vfm, qmvi;
  if (!vfm.Create(title_base + ".vfm", nullptr)) return false;
  vfm.Printf("VirtualFileMap%.2d\n%d\n", 10, count);
  for (const std::string& p : vobs.paths) vfm.Printf("%s\n", p.c_str());
  vfm.Printf("\n");
  if (!qmvi.Create(title_base + ".qmvi", nullptr)) return false;
  std::string vfm_name = title_base.substr(title_base.rfind('/') + 1) + ".vfm";
  qmvi.Printf("qmVideoIndex%.2d\n", d2v_version);
  qmvi.Printf("1\n%d %s\n\n", static_cast<int>(vfm_name.size()), vfm_name.c_str());
  for (int i = 0; i < 9; ++i) {
    if (!d2v.NextNonEmpty(&line)) return false;
    qmvi.Printf("%s\n", line.c_str());
  }
  if (!d2v.NextNonEmpty(&line)) return false;  // Location=, replaced
  qmvi.Printf("Location=0,0,0,0\n");

  // GOP lines.
  struct GopLine {
    int64_t position;
    std::string rest;
  };
  std::vector<GopLine> gops;
  RunTable gop_runs;
  RunBuilder runs(&gop_runs);
  bool last_seen = false;
  while (!last_seen) {
    int file, vob_id, cell_id;
    int64_t position;
    if (!d2v.NextNonEmpty(&line)) return false;
    Scan in(line);
    if (!in.Literal('7') || !in.Dec(&file) || !in.Dec64(&position) || !in.Dec(&vob_id) ||
        !in.Dec(&cell_id) || file < 0 || file >= count)
      return false;
    std::string rest(in.Rest());
    if (rest.size() >= 2 && rest.compare(rest.size() - 2, 2, " 9") == 0) {
      rest.resize(rest.size() - 2);
      last_seen = true;
    }
    runs.Entry(vob_id, cell_id, gops.size());
    gops.push_back({vobs.Virtual(file, position), rest});
  }
  runs.Close();

  // The title's bytes in playing order, and its GOPs in that virtual file.
  int64_t written = 0;
  int gop_lines = 0;
  for (const Cell& cell : title.cells) {
    if (cell.Dropped()) continue;
    const std::vector<Run>* a = cell_runs.Find(cell.vob_id, cell.cell_id);
    const std::vector<Run>* b = gop_runs.Find(cell.vob_id, cell.cell_id);
    if (!a || !b) continue;
    for (size_t k = 0; k < a->size() && k < b->size(); ++k) {
      size_t index = (*a)[k].first;
      const CellEntry& e = entries[index];
      int64_t s = vobs.Virtual(e.file, e.offset);
      int64_t end = index + 1 < entries.size()
                        ? vobs.Virtual(entries[index + 1].file, entries[index + 1].offset)
                        : vobs.cum.back();
      int64_t length = end > s ? end - s : 0;
      int f = e.file;
      int64_t o = e.offset;
      for (int64_t left = length; left > 0;) {
        int64_t in_file = vobs.sizes[static_cast<size_t>(f)] - o;
        if (left > in_file && f + 1 < count) {
          if (in_file > 0)
            vfm.Printf("%d %" PRIx64 " %" PRIx64 "\n", f, static_cast<uint64_t>(o),
                       static_cast<uint64_t>(in_file));
          left -= std::max<int64_t>(in_file, 0);
          ++f;
          o = 0;
        } else {
          vfm.Printf("%d %" PRIx64 " %" PRIx64 "\n", f, static_cast<uint64_t>(o),
                     static_cast<uint64_t>(left));
          left = 0;
        }
      }
      const Run& gop_run = (*b)[k];
      for (size_t g = gop_run.first; g < gop_run.first + gop_run.count; ++g) {
        qmvi.Printf("\n7 0 %" PRId64 " %d %d", gops[g].position - s + written, cell.vob_id,
                    cell.cell_id);
        qmvi.Printf("%s", gops[g].rest.c_str());
        ++gop_lines;
      }
      written += length;
    }
  }
  vfm.Printf("\n.");
  if (gop_lines == 0) return false;
  std::string trailer;
  d2v.NextNonEmpty(&trailer);
  qmvi.Printf(" 9\n\n%s\n", trailer.c_str());
  return true;
}

// ------------------------------------------------------------------- audio

bool AudioPart(const std::string& vts, const std::string& title_base, const Title& title) {
  for (int n = 0; n < 8; ++n) {
    std::string index_path = vts + Format("_at%d.qmai", n);
    if (!Exists(index_path)) continue;
    Lines qmai;
    OutFile out;
    if (!qmai.Open(index_path) || !out.Create(title_base + Format("_at%d.vfm", n), nullptr))
      return false;
    std::string line;
    int version = 0;
    if (!qmai.Next(&line) || std::sscanf(line.c_str(), "qmAudioIndex%d", &version) != 1 ||
        version > 10)
      return false;
    out.Printf("VirtualFileMap%.2d\n", 10);
    int files = 0;
    if (!qmai.NextNonEmpty(&line) || std::sscanf(line.c_str(), "%d", &files) != 1 || files < 0)
      return false;
    out.Printf("%d\n", files);
    for (int i = 0; i < files; ++i) {
      if (!qmai.NextNonEmpty(&line)) return false;
      out.Printf("%s\n", line.c_str());
    }
    out.Printf("\n");
    struct Entry {
      int file;
      uint64_t offset;
      unsigned length;
    };
    std::vector<Entry> entries;
    RunTable table;
    RunBuilder runs(&table);
    bool end_mark = false;
    while (qmai.NextNonEmpty(&line)) {
      Entry e;
      int vob_id, cell_id;
      Scan in(line);
      if (!in.Dec(&e.file) || !in.Dec(&vob_id) || !in.Dec(&cell_id) || !in.Hex64(&e.offset) ||
          !in.Hex32(&e.length)) {
        end_mark = IsEndMark(line);
        break;
      }
      runs.Entry(vob_id, cell_id, entries.size());
      entries.push_back(e);
    }
    runs.Close();
    if (!end_mark) return false;
    for (const Cell& cell : title.cells) {
      if (cell.Dropped()) continue;
      const std::vector<Run>* r = table.Find(cell.vob_id, cell.cell_id);
      if (!r) continue;
      std::string text;
      for (const Run& run : *r)
        for (size_t i = run.first; i < run.first + run.count; ++i)
          AppendEntry(&text, entries[i].file, entries[i].offset, entries[i].length);
      out.Write(text.data(), text.size());
    }
    out.Printf("\n.");
  }
  return true;
}

// ------------------------------------------------------------ sub-pictures

// The PGC's colour table as RGB, with the luma scaled so that the table's
// mean maps to 255.
std::string Palette(const Title& title) {
  double sum = 0;
  for (const auto& c : title.palette) sum += c[1];
  double factor = 4080.0 / sum;  // +inf for a table of zeros: every colour black below
  std::string text;
  for (int i = 0; i < 16; ++i) {
    const uint8_t* c = title.palette[i];
    double scaled = c[1] * factor;
    int y = sum > 0 ? (scaled >= 255.0 ? 255 : static_cast<int>(scaled)) : 0;
    int cr = c[2] - 128;
    int cb = c[3] - 128;
    auto clamp = [](double v) {
      int x = static_cast<int>(v);
      return x <= 0 ? 0 : (x >= 255 ? 255 : x);
    };
    int r = sum > 0 ? clamp(y + 1.402 * cr) : 0;
    int g = sum > 0 ? clamp(y - 0.34414 * cb - 0.71414 * cr) : 0;
    int b = sum > 0 ? clamp(y + 1.772 * cb) : 0;
    text += Format("%s%.2x%.2x%.2x", i ? ", " : "", r, g, b);
  }
  return text;
}

bool SubpicturePart(const std::string& vts, const std::string& title_base, const Title& title) {
  for (int n = 0; n < 32; ++n) {
    std::string index_path = vts + Format("_st%d.qmsi", n);
    if (!Exists(index_path)) continue;
    Lines qmsi;
    OutFile idx;
    if (!qmsi.Open(index_path) || !idx.Create(title_base + Format("_st%d.idx", n), nullptr))
      return false;
    std::string line;
    int version = 0;
    if (!qmsi.Next(&line) || std::sscanf(line.c_str(), "qmSubpictureIndex%d", &version) != 1 ||
        version > 10)
      return false;
    int standard = (title.video_attributes[0] >> 4) & 3;
    int resolution = (title.video_attributes[1] >> 2) & 3;
    if (standard > 1) return false;
    static const int kWidths[4] = {720, 704, 352, 352};
    int height = standard == 0 ? 480 : 576;
    if (resolution == 3) height /= 2;
    idx.Printf("# VobSub index file, v7 (do not modify this line!)\n\n");
    idx.Printf("size: %dx%d\n", kWidths[resolution], height);
    idx.Printf("org: 0, 0\n");
    idx.Printf("scale: 100%%, 100%%\n");
    idx.Printf("alpha: 100%%\n");
    idx.Printf("smooth: OFF\n");
    idx.Printf("fadein/out: 50, 50\n");
    idx.Printf("align: OFF at LEFT TOP\n");
    idx.Printf("time offset: 0\n");
    idx.Printf("forced subs: OFF\n");
    idx.Printf("palette: %s\n", Palette(title).c_str());
    idx.Printf("langidx: %d\nid: xx, index: %d\n", n, n);
    struct Entry {
      unsigned pts;
      uint64_t offset;
    };
    std::vector<Entry> entries;
    RunTable table;
    RunBuilder runs(&table);
    bool end_mark = false;
    while (qmsi.NextNonEmpty(&line)) {
      Entry e;
      int vob_id, cell_id;
      Scan in(line);
      if (!in.Dec(&vob_id) || !in.Dec(&cell_id) || !in.Hex32(&e.pts) || !in.Hex64(&e.offset)) {
        end_mark = IsEndMark(line);
        break;
      }
      runs.Entry(vob_id, cell_id, entries.size());
      entries.push_back(e);
    }
    runs.Close();
    if (!end_mark) return false;
    idx.Printf("\n");
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
      for (const Run& run : *r) {
        for (size_t i = run.first; i < run.first + run.count; ++i) {
          uint32_t t = base + entries[i].pts;
          idx.Printf("timestamp: %.2d:%.2d:%.2d:%.3d, filepos: %.9" PRIx64 "\n",
                     static_cast<int>((t / 324000000u) % 60), static_cast<int>((t / 5400000u) % 60),
                     static_cast<int>((t / 90000u) % 60), static_cast<int>((t / 90u) % 1000),
                     entries[i].offset);
        }
      }
    }
  }
  return true;
}

}  // namespace
}  // namespace tessmar

extern "C" uint8_t qmRebuild(const char* vtsBase, const char* ifoPath, const char* titleBase,
                             int32_t wantVideo, int32_t wantAudio, int32_t wantSubpictures,
                             int32_t pgc, int32_t angle) {
  using namespace tessmar;
  if (!wantVideo && !wantAudio && !wantSubpictures) return 1;
  if (!vtsBase || !ifoPath || !titleBase || !*vtsBase || !*titleBase) return 0;
  // Names longer than the name buffers are refused, never cut short.
  if (std::strlen(vtsBase) > kMaxBase || std::strlen(titleBase) > kMaxBase ||
      std::strlen(ifoPath) > kMaxPath)
    return 0;
  Title title;
  if (!ReadTitle(ifoPath, pgc, angle, &title)) return 0;
  std::string vts(vtsBase), base(titleBase);
  if (wantVideo && !VideoPart(vts, base, title)) return 0;
  if (wantAudio && !AudioPart(vts, base, title)) return 0;
  if (wantSubpictures && !SubpicturePart(vts, base, title)) return 0;
  return 1;
}
