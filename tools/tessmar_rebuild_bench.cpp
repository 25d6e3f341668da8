// Title rebuild time and memory for a two-hour title.
//
//   tessmar_rebuild_bench <VTS_01_1.VOB of ntsc_multi or alike> <work-folder> [repeats] [rounds]
//
// Indexes the given VOB once, then writes the index files of a long title
// set made of that title repeated (default 720 times: two hours of a 10 s
// sample), over sparse VOB files of the right sizes, and an IFO whose one
// program chain plays all of it in 240 cells. Times qmRebuild with video,
// audio and sub-pictures wanted against a plain read of the index files, in
// rounds that alternate the two (default 3), in wall and processor time,
// and prints the memory the rebuild takes while it runs and what stays
// resident after it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "dvd/ifo_layout.h"
#include "tessmar/formats/audio_index.h"
#include "tessmar/formats/cell_index.h"
#include "tessmar/formats/d2v.h"
#include "tessmar/formats/index_text.h"
#include "tessmar/formats/subpicture_index.h"
#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of this thread, which both the rebuild and its peer run on.
double CpuNow() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// A value of /proc/self/status in KiB ("VmHWM:", "VmRSS:").
long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  return -1;
}
long PeakRssKb() {
  return StatusKb("VmHWM:");
}
long ResidentKb() {
  return StatusKb("VmRSS:");
}
// Starts the peak count again from the current resident size.
void ResetPeakRss() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

namespace formats = tessmar::formats;

std::vector<std::string> Lines(const std::string& path) {
  std::string text;
  formats::ReadWholeFile(path, &text);
  return formats::SplitLines(text);
}

void Write(const std::string& path, const std::string& text) {
  if (!formats::WriteCrLfFile(path, text)) std::perror(path.c_str());
}

// The long title set: `repeats` copies of the sample of `unit` bytes over
// sparse VOB files of 1 GiB, played in 240 cells.
struct LongTitle {
  std::string sample;  // the sample's index base
  std::string vts;     // the long title set's index base
  std::vector<std::string> vobs;
  int64_t unit = 0;
  int repeats = 0;
  static constexpr int kCells = 240;

  int64_t Total() const { return unit * repeats; }
  // The file and offset of a position in the VOB files taken as one.
  int64_t Where(int64_t virt, int* file) const {
    *file = static_cast<int>(virt / kGiB);
    return virt % kGiB;
  }
  int CellOf(int rep) const { return 1 + rep * kCells / repeats; }
};

bool MakeSparseVobs(const std::string& work, LongTitle* title) {
  for (int64_t at = 0; at < title->Total(); at += kGiB) {
    title->vobs.push_back(work + "/VTS_01_" + std::to_string(title->vobs.size() + 1) + ".VOB");
    int fd = open(title->vobs.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, std::min(kGiB, title->Total() - at)) != 0) return false;
    close(fd);
  }
  return true;
}

// Cell index: one line per cell change.
void WriteCellIndex(const LongTitle& t) {
  std::string o;
  formats::AppendCellIndexHead(&o, t.vobs);
  int last = -1;
  for (int rep = 0; rep < t.repeats; ++rep) {
    if (t.CellOf(rep) == last) continue;
    last = t.CellOf(rep);
    int f;
    int64_t off = t.Where(rep * t.unit, &f);
    formats::AppendCellLine(&o, {1, last, f, static_cast<uint64_t>(off)});
  }
  o += formats::kEndMark;
  Write(t.vts + ".qmci", o);
}

// Project file: the sample's header and GOP lines, repeated.
void WriteProjectFile(const LongTitle& t) {
  std::vector<std::string> d = Lines(t.sample + ".d2v");
  std::string o;
  formats::AppendD2vFileList(&o, t.vobs);
  const std::string stream_type = std::string(formats::kStreamTypeKey) + "=";
  size_t i = 0;
  while (i < d.size() && d[i].rfind(stream_type, 0) != 0) ++i;
  o += "\n";
  for (int k = 0; k <= formats::kD2vHeaderLines; ++k) o += d[i + k] + "\n";  // and Location=
  o += "\n";
  std::vector<formats::GopLineHead> gops;
  for (const std::string& l : d) {
    formats::GopLineHead gop;
    if (formats::ScanGopLine(l, &gop)) gops.push_back(gop);
  }
  for (int rep = 0; rep < t.repeats; ++rep) {
    for (size_t g = 0; g < gops.size(); ++g) {
      int f;
      int64_t off = t.Where(rep * t.unit + gops[g].position, &f);
      formats::AppendGopLineHead(&o, f, off, 1, t.CellOf(rep));
      o += gops[g].flags;
      formats::AppendGopLineEnd(&o, rep + 1 == t.repeats && g + 1 == gops.size());
    }
  }
  o += "\n" + d.back() + "\n";
  Write(t.vts + ".d2v", o);
}

void WriteAudioIndexes(const LongTitle& t) {
  for (int n = 0; n < formats::kMaxAudioStreams; ++n) {
    std::vector<std::string> a = Lines(formats::AudioIndexName(t.sample, n));
    if (a.empty()) continue;
    std::string o;
    formats::AppendAudioIndexHead(&o, t.vobs);
    for (int rep = 0; rep < t.repeats; ++rep) {
      for (const std::string& l : a) {
        formats::AudioEntry e;
        if (!formats::ScanAudioEntry(l, &e)) continue;
        int64_t off = t.Where(rep * t.unit + static_cast<int64_t>(e.offset), &e.file);
        e.vob_id = 1;
        e.cell_id = t.CellOf(rep);
        e.offset = static_cast<uint64_t>(off);
        formats::AppendAudioEntry(&o, e);
      }
    }
    o += formats::kEndMark;
    Write(formats::AudioIndexName(t.vts, n), o);
  }
}

void WriteSubpictureIndexes(const LongTitle& t) {
  for (int n = 0; n < formats::kMaxSubpictureStreams; ++n) {
    std::vector<std::string> s = Lines(formats::SubpictureIndexName(t.sample, n));
    if (s.empty()) continue;
    std::string o;
    formats::AppendSubpictureIndexHead(&o);
    for (int rep = 0; rep < t.repeats; ++rep) {
      for (const std::string& l : s) {
        formats::SubpictureEntry e;
        if (!formats::ScanSubpictureEntry(l, &e)) continue;
        e.vob_id = 1;
        e.cell_id = t.CellOf(rep);
        formats::AppendSubpictureEntry(&o, e);
      }
    }
    o += formats::kEndMark;
    Write(formats::SubpictureIndexName(t.vts, n), o);
  }
}

// IFO: one chain of 240 cells of 30 s.
bool WriteIfo(const LongTitle& t) {
  const int cells = LongTitle::kCells;
  std::string ifo(dvd::kSectorSize * 6, '\0');
  std::memcpy(ifo.data(), dvd::kVtsIdentifier, dvd::kVtsIdentifierSize);
  auto be16 = [&](size_t at, unsigned v) {
    ifo[at] = static_cast<char>(v >> 8);
    ifo[at + 1] = static_cast<char>(v);
  };
  auto be32 = [&](size_t at, unsigned v) {
    be16(at, v >> 16);
    be16(at + 2, v & 0xFFFF);
  };
  be32(dvd::kPgciSectorOffset, 1);  // the chain table in the second sector
  const size_t table = dvd::kSectorSize;
  const size_t pgc = table + dvd::kPgciHeaderSize + dvd::kPgciEntrySize;
  const size_t play = dvd::kPgcHeaderSize, pos = play + dvd::kCellPlaybackSize * cells;
  be16(table, 1);  // one chain
  be32(table + dvd::kTableEndOffset,
       static_cast<unsigned>(pgc - table + pos + dvd::kCellPositionSize * cells - 1));
  be32(table + dvd::kPgciHeaderSize + dvd::kPgciEntryStartOffset,
       static_cast<unsigned>(pgc - table));
  ifo[pgc + dvd::kPgcCellCountOffset] = static_cast<char>(cells);
  for (int i = 0; i < 16; ++i)  // 0, Y, Cr, Cb: mid grey
    ifo[pgc + dvd::kPgcPaletteOffset + 4 * i + 1] = static_cast<char>(0x80);
  be16(pgc + dvd::kPgcCellTableOffset, static_cast<unsigned>(play));
  be16(pgc + dvd::kPgcCellPositionTableOffset, static_cast<unsigned>(pos));
  for (int c = 0; c < cells; ++c) {
    // 00:00:30 at 30 frames per second, in BCD.
    be16(pgc + play + dvd::kCellPlaybackSize * c + dvd::kCellPlayingTimeOffset + 2, 0x30C0);
    be16(pgc + pos + dvd::kCellPositionSize * c, 1);  // vob_id
    ifo[pgc + pos + dvd::kCellPositionSize * c + dvd::kCellPositionCellIdOffset] =
        static_cast<char>(c + 1);
  }
  FILE* o = std::fopen((t.vts + ".IFO").c_str(), "wb");
  if (!o || std::fwrite(ifo.data(), 1, ifo.size(), o) != ifo.size()) return false;
  std::fclose(o);
  return true;
}

// Rounds of the peer (a plain read of the index files) and the rebuild, in
// an order that turns round every round. The rebuild's memory: the peak
// while it runs, counted from the resident size it starts with, and what
// stays resident once it has returned.
struct Measurements {
  int64_t index_bytes = 0;
  std::vector<double> read_times, rebuild_times, read_cpu, rebuild_cpu;
  long peak_growth = 0, resident_growth = 0;
  bool ok = true;
};

Measurements Measure(const LongTitle& t, const std::string& work, int rounds) {
  const std::string& vts = t.vts;
  const std::vector<std::string> index_files = {vts + ".qmci",     vts + ".d2v",
                                                vts + "_at0.qmai", vts + "_at1.qmai",
                                                vts + "_at2.qmai", vts + "_st0.qmsi"};
  Measurements m;
  auto peer = [&] {
    m.index_bytes = 0;
    const double t0 = Now(), c0 = CpuNow();
    for (const std::string& f : index_files) {
      std::string text;
      formats::ReadWholeFile(f, &text);
      m.index_bytes += static_cast<int64_t>(text.size());
    }
    m.read_times.push_back(Now() - t0);
    m.read_cpu.push_back(CpuNow() - c0);
  };
  auto rebuild = [&] {
    ResetPeakRss();
    const long start = ResidentKb();
    const double t0 = Now(), c0 = CpuNow();
    m.ok = m.ok && qmRebuild(vts.c_str(), (vts + ".IFO").c_str(), (work + "/title").c_str(), 1, 1,
                             1, 1, 0) == 1;
    m.rebuild_times.push_back(Now() - t0);
    m.rebuild_cpu.push_back(CpuNow() - c0);
    m.peak_growth = std::max(m.peak_growth, PeakRssKb() - start);
    m.resident_growth = std::max(m.resident_growth, ResidentKb() - start);
  };
  for (int round = 0; round < rounds; ++round) {
    if (round % 2 == 0) {
      rebuild();
      peer();
    } else {
      peer();
      rebuild();
    }
  }
  return m;
}

void Report(const LongTitle& t, const Measurements& m, int rounds) {
  const double read_s = Median(m.read_times), rebuild_s = Median(m.rebuild_times);
  std::printf("title: %d x %.1f MiB sample = %.2f GiB in %zu VOB files, 240 cells\n", t.repeats,
              t.unit / 1048576.0, t.Total() / static_cast<double>(kGiB), t.vobs.size());
  const double read_c = Median(m.read_cpu), rebuild_c = Median(m.rebuild_cpu);
  std::printf(
      "index files: %.1f MiB; plain read of them %.3f s, processor time %.3f s (medians of %d)\n",
      m.index_bytes / 1048576.0, read_s, read_c, rounds);
  std::printf(
      "qmRebuild = %d: %.3f s (%.1f x the plain read), processor time %.3f s (%.1f x the plain "
      "read)\n",
      m.ok ? 1 : 0, rebuild_s, rebuild_s / read_s, rebuild_c, rebuild_c / read_c);
  std::printf("qmRebuild memory: peak +%ld KiB while it runs, +%ld KiB still resident after it\n",
              m.peak_growth, m.resident_growth);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <VOB> <work-folder> [repeats] [rounds]\n", argv[0]);
    return 2;
  }
  const std::string source = argv[1], work = argv[2];
  LongTitle title;
  title.repeats = argc > 3 ? std::atoi(argv[3]) : 720;
  const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
  mkdir(work.c_str(), 0777);
  title.sample = work + "/sample";
  title.vts = work + "/long";
  TessmarStatus status{};
  if (Tessmar(tessmar::VobList({source}).Files(), title.sample.c_str(), 1, 1, &status) != 0)
    return 1;
  while (std::atomic_ref<uint8_t>(status.running).load())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  struct stat st;
  if (stat(source.c_str(), &st) != 0 || status.finished != 1) return 1;
  title.unit = st.st_size;

  if (!MakeSparseVobs(work, &title)) return 1;
  if (title.vobs.size() > 9) {
    std::fprintf(stderr, "too many repeats for one title set\n");
    return 2;
  }
  WriteCellIndex(title);
  WriteProjectFile(title);
  WriteAudioIndexes(title);
  WriteSubpictureIndexes(title);
  if (!WriteIfo(title)) return 1;

  const Measurements measured = Measure(title, work, rounds);
  Report(title, measured, rounds);
  return measured.ok ? 0 : 1;
}
