// Title rebuild time and memory for a two-hour title.
//
//   tessmar_rebuild_bench <VTS_01_1.VOB of ntsc_multi or alike> <work-folder> [repeats]
//
// Indexes the given VOB once, then writes the index files of a long title
// set made of that title repeated (default 720 times: two hours of a 10 s
// sample), over sparse VOB files of the right sizes, and an IFO whose one
// program chain plays all of it in 240 cells. Times qmRebuild with video,
// audio and sub-pictures wanted and prints its peak memory beside the size
// of the index files. The peer measured in the same run is a plain read of
// the index files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tessmar/include/tessmar.h"

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long PeakRssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

struct Out {
  explicit Out(const std::string& path) : f(std::fopen(path.c_str(), "wb")) {}
  ~Out() {
    if (f) std::fclose(f);
  }
  void Line(const std::string& s) {
    std::fputs(s.c_str(), f);
    std::fputs("\r\n", f);
  }
  FILE* f;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <VOB> <work-folder> [repeats]\n", argv[0]);
    return 2;
  }
  const std::string source = argv[1], work = argv[2];
  const int repeats = argc > 3 ? std::atoi(argv[3]) : 720;
  mkdir(work.c_str(), 0777);
  const std::string sample = work + "/sample";
  TessmarStatus status{};
  if (Tessmar(source.c_str(), sample.c_str(), 1, 1, &status) != 0) return 1;
  while (std::atomic_ref<uint8_t>(status.running).load())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  struct stat st;
  if (stat(source.c_str(), &st) != 0 || status.finished != 1) return 1;
  const int64_t unit = st.st_size;

  // Sparse VOB files of 1 GiB holding `repeats` copies.
  const int64_t total = unit * repeats;
  std::vector<std::string> vobs;
  for (int64_t at = 0; at < total; at += kGiB) {
    vobs.push_back(work + "/VTS_01_" + std::to_string(vobs.size() + 1) + ".VOB");
    int fd = open(vobs.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, std::min(kGiB, total - at)) != 0) return 1;
    close(fd);
  }
  if (vobs.size() > 9) {
    std::fprintf(stderr, "too many repeats for one title set\n");
    return 2;
  }
  auto where = [&](int64_t virt, int* file) {
    *file = static_cast<int>(virt / kGiB);
    return virt % kGiB;
  };
  const int cells = 240;
  auto cell_of = [&](int rep) { return 1 + rep * cells / repeats; };
  const std::string vts = work + "/long";

  auto head = [&](Out& o, const std::string& magic) {
    o.Line(magic);
    o.Line(std::to_string(vobs.size()));
    for (const std::string& v : vobs) o.Line(v);
    o.Line("");
  };
  {  // cell index: one line per cell change
    Out o(vts + ".qmci");
    head(o, "qmCellIndex10");
    int last = -1;
    for (int rep = 0; rep < repeats; ++rep) {
      if (cell_of(rep) == last) continue;
      last = cell_of(rep);
      int f;
      int64_t off = where(rep * unit, &f);
      char line[96];
      std::snprintf(line, sizeof line, "1 %d %d %" PRIx64, last, f, off);
      o.Line(line);
    }
    o.Line("");
    std::fputs(".", o.f);
  }
  {  // project file: the sample's header and GOP lines, repeated
    std::vector<std::string> d = Lines(sample + ".d2v");
    Out o(vts + ".d2v");
    o.Line("DGIndexProjectFile06");
    o.Line(std::to_string(vobs.size()));
    for (const std::string& v : vobs) o.Line(std::to_string(v.size()) + " " + v);
    size_t i = 0;
    while (i < d.size() && d[i].rfind("Stream_Type=", 0) != 0) ++i;
    o.Line("");
    for (int k = 0; k < 10; ++k) o.Line(d[i + k]);
    o.Line("");
    std::vector<std::string> gops;
    for (const std::string& l : d)
      if (l.rfind("7 ", 0) == 0) gops.push_back(l);
    for (int rep = 0; rep < repeats; ++rep) {
      for (size_t g = 0; g < gops.size(); ++g) {
        int f0, v, c, used = 0;
        long long pos;
        std::sscanf(gops[g].c_str(), "7 %d %lld %d %d%n", &f0, &pos, &v, &c, &used);
        std::string rest = gops[g].substr(static_cast<size_t>(used));
        if (rest.size() >= 2 && rest.compare(rest.size() - 2, 2, " 9") == 0)
          rest.resize(rest.size() - 2);
        int f;
        int64_t off = where(rep * unit + pos, &f);
        bool last = rep + 1 == repeats && g + 1 == gops.size();
        o.Line("7 " + std::to_string(f) + " " + std::to_string(off) + " 1 " +
               std::to_string(cell_of(rep)) + rest + (last ? " 9" : ""));
      }
    }
    o.Line("");
    o.Line(d.back());
  }
  for (int n = 0; n < 8; ++n) {  // audio indexes
    std::vector<std::string> a = Lines(sample + "_at" + std::to_string(n) + ".qmai");
    if (a.empty()) continue;
    Out o(vts + "_at" + std::to_string(n) + ".qmai");
    head(o, "qmAudioIndex10");
    for (int rep = 0; rep < repeats; ++rep) {
      for (const std::string& l : a) {
        int f0, v, c;
        unsigned long long off0;
        unsigned len;
        if (std::sscanf(l.c_str(), "%d %d %d %llx %x", &f0, &v, &c, &off0, &len) != 5) continue;
        int f;
        int64_t off = where(rep * unit + static_cast<int64_t>(off0), &f);
        char line[96];
        std::snprintf(line, sizeof line, "%d 1 %d %" PRIx64 " %x", f, cell_of(rep), off, len);
        o.Line(line);
      }
    }
    o.Line("");
    std::fputs(".", o.f);
  }
  for (int n = 0; n < 32; ++n) {  // sub-picture indexes
    std::vector<std::string> s = Lines(sample + "_st" + std::to_string(n) + ".qmsi");
    if (s.empty()) continue;
    Out o(vts + "_st" + std::to_string(n) + ".qmsi");
    o.Line("qmSubpictureIndex10");
    o.Line("");
    for (int rep = 0; rep < repeats; ++rep) {
      for (const std::string& l : s) {
        int v, c;
        unsigned pts;
        unsigned long long off;
        if (std::sscanf(l.c_str(), "%d %d %x %llx", &v, &c, &pts, &off) != 4) continue;
        char line[96];
        std::snprintf(line, sizeof line, "1 %d %x %llx", cell_of(rep), pts, off);
        o.Line(line);
      }
    }
    o.Line("");
    std::fputs(".", o.f);
  }
  {  // IFO: one chain of 240 cells of 30 s
    std::string ifo(2048 * 6, '\0');
    std::memcpy(ifo.data(), "DVDVIDEO-VTS", 12);
    ifo[0xCF] = 1;
    size_t t = 2048, pgc = t + 16, play = 0xEC, pos = play + 24 * cells;
    auto be16 = [&](size_t at, unsigned v) {
      ifo[at] = static_cast<char>(v >> 8);
      ifo[at + 1] = static_cast<char>(v);
    };
    be16(t, 1);
    be16(t + 6, static_cast<unsigned>(16 + pos + 4 * cells - 1));
    ifo[t + 15] = 16;
    ifo[pgc + 3] = static_cast<char>(cells);
    for (int i = 0; i < 16; ++i) ifo[pgc + 0xA4 + 4 * i + 1] = static_cast<char>(0x80);
    be16(pgc + 0xE8, static_cast<unsigned>(play));
    be16(pgc + 0xEA, static_cast<unsigned>(pos));
    for (int c = 0; c < cells; ++c) {
      ifo[pgc + play + 24 * c + 6] = 0x30;
      ifo[pgc + play + 24 * c + 7] = static_cast<char>(0xC0);
      be16(pgc + pos + 4 * c, 1);
      ifo[pgc + pos + 4 * c + 3] = static_cast<char>(c + 1);
    }
    Out o(vts + ".IFO");
    std::fwrite(ifo.data(), 1, ifo.size(), o.f);
  }

  // Peer: a plain read of the index files.
  int64_t index_bytes = 0;
  double t0 = Now();
  for (const char* ext : {".qmci", ".d2v", "_at0.qmai", "_at1.qmai", "_at2.qmai", "_st0.qmsi"}) {
    std::ifstream in(vts + ext, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    index_bytes += static_cast<int64_t>(s.str().size());
  }
  double read_s = Now() - t0;

  long before = PeakRssKb();
  t0 = Now();
  uint8_t ok =
      qmRebuild(vts.c_str(), (vts + ".IFO").c_str(), (work + "/title").c_str(), 1, 1, 1, 1, 0);
  double rebuild_s = Now() - t0;
  long after = PeakRssKb();
  std::printf("title: %d x %.1f MiB sample = %.2f GiB in %zu VOB files, 240 cells\n", repeats,
              unit / 1048576.0, total / static_cast<double>(kGiB), vobs.size());
  std::printf("index files: %.1f MiB; plain read of them %.3f s\n", index_bytes / 1048576.0,
              read_s);
  std::printf("qmRebuild = %d: %.3f s (%.1f x the plain read)\n", ok, rebuild_s,
              rebuild_s / read_s);
  std::printf("peak RSS: before %ld KiB, after %ld KiB (+%ld KiB)\n", before, after,
              after - before);
  return ok == 1 ? 0 : 1;
}
