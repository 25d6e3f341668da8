// The analysis and the preparation of a long title against a plain read of
// its files, in one run:
//
//   long_film_bench [--cold] <DVD folder> <work folder> [rounds] [vts] [pgc]
//
// For the two-hour sample film (cmake --build --preset default --target
// long_film; build/default/long-film/pal_two_hours). Each round runs, in
// alternating order:
//   - peer: a plain read of every title VOB file of the disc, 1 MiB at a
//     time, as the analysis must read them at least once;
//   - ours: the wizard's analysis as its worker runs it (folders, checksum,
//     an index run per title set, IFO files), the preparation of the title
//     (PrepareTitle: the rebuild of its video, audio and sub-picture files,
//     its frame count and its borders), and qmRebuild alone into a fresh
//     title base.
// Prints the medians of wall and processor time (the whole process's, the
// library's worker included) and their ratios to the plain read. The film's
// files are read from the page cache; with --cold their pages are dropped
// from it before each turn (only theirs: the rest of the machine keeps its
// cache), so both read from the disc.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "queue/folder_tree.h"
#include "tessmar/include/tessmar.h"
#include "tools/quiet_analysis.h"
#include "wizard/title_key.h"
#include "wizard/title_preparation.h"
#include "wizard/wizard_state.h"

namespace {

namespace fs = std::filesystem;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Bytes the process has read through read calls (its "rchar"), the
// library's worker included, from the page cache or not.
double ReadGiB() {
  std::ifstream in("/proc/self/io");
  std::string key;
  double value = 0;
  while (in >> key >> value)
    if (key == "rchar:") return value / (1 << 30);
  return 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

struct Measure {
  std::vector<double> wall, cpu, read;
  template <typename F>
  bool Run(F work) {
    const double t = Now(), c = CpuSeconds(), r = ReadGiB();
    if (!work()) return false;
    wall.push_back(Now() - t);
    cpu.push_back(CpuSeconds() - c);
    read.push_back(ReadGiB() - r);
    return true;
  }
};

// Every title VOB file of the disc, read whole; false when one cannot be.
bool PlainRead(const std::vector<std::string>& vobs, int64_t* bytes) {
  std::vector<char> buffer(1 << 20);
  *bytes = 0;
  for (const std::string& path : vobs) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) *bytes += n;
    ::close(fd);
    if (n < 0) return false;
  }
  return true;
}

// Drops the pages of `files` from the page cache.
void Evict(const std::vector<std::string>& files) {
  for (const std::string& path : files) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
}

struct Ours {
  std::string video_ts, folder;
  int vts = 1, pgc = 1;
  Measure analysis, preparation, rebuild;
  int32_t frames = 0;
};

bool RunOurs(Ours& ours, int round) {
  wizard::WizardState state;
  state.JobFolder = ours.folder + "/job" + std::to_string(round);
  state.JobDataFolder = state.JobFolder + "/.kvnj/";
  state.DvdFolder = ours.video_ts + "/";
  if (!ours.analysis.Run([&] { return kv_tools::AnalyseQuietly(state); })) return false;
  state.SelVts = ours.vts;
  state.SelPgc = ours.pgc;
  state.SelAngle = 0;
  wizard::PreparationResult prepared;
  if (!ours.preparation.Run([&] {
        prepared = wizard::PrepareTitle(wizard::PreparationInputFor(state));
        return prepared.Ok;
      })) {
    std::fprintf(stderr, "preparation: %s\n", prepared.Error.c_str());
    return false;
  }
  ours.frames = prepared.FrameCount;
  const std::string vts_base = wizard::TitleSetIndexBase(state, ours.vts);
  const std::string ifo = wizard::TitleSetIfoPath(state, ours.vts);
  const std::string again = state.JobDataFolder + "again";
  if (!ours.rebuild.Run([&] {
        return qmRebuild(vts_base.c_str(), ifo.c_str(), again.c_str(), 1, 1, 1, ours.pgc, 0) == 1;
      }))
    return false;
  queue::RemoveFolderTree(state.JobFolder);
  return true;
}

void Report(const char* name, const Measure& m, const Measure& peer) {
  const double wall = Median(m.wall), cpu = Median(m.cpu);
  std::printf(
      "%-28s %7.2f s wall %7.2f s cpu %6.2f GiB read   x%.2f wall  x%.2f cpu of the plain read\n",
      name, wall, cpu, Median(m.read), wall / Median(peer.wall),
      cpu / std::max(Median(peer.cpu), 1e-3));
}

}  // namespace

int main(int argc, char** argv) {
  const bool cold = argc > 1 && std::string(argv[1]) == "--cold";
  if (cold) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s [--cold] <DVD folder> <work folder> [rounds] [vts] [pgc]\n",
                 argv[0]);
    return 2;
  }
  Ours ours;
  ours.video_ts = std::string(argv[1]) + "/VIDEO_TS";
  ours.folder = argv[2];
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  if (argc > 4) ours.vts = std::atoi(argv[4]);
  if (argc > 5) ours.pgc = std::atoi(argv[5]);
  std::vector<std::string> vobs;
  for (const auto& entry : fs::directory_iterator(ours.video_ts)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == 12 && name.rfind("VTS_", 0) == 0 && name.substr(8) == ".VOB" &&
        name[7] != '0')
      vobs.push_back(entry.path().string());
  }
  std::sort(vobs.begin(), vobs.end());
  fs::create_directories(ours.folder);
  Measure read;
  int64_t bytes = 0;
  for (int r = 0; r < rounds; ++r) {
    const bool peer_first = r % 2 == 0;
    for (int turn = 0; turn < 2; ++turn) {
      if (cold) Evict(vobs);
      if ((turn == 0) == peer_first) {
        if (!read.Run([&] { return PlainRead(vobs, &bytes); })) return 1;
      } else if (!RunOurs(ours, r)) {
        return 1;
      }
    }
  }
  std::printf("%zu VOB files, %.2f GiB %s; title %d/%d of %d frames; %d rounds, medians\n",
              vobs.size(), static_cast<double>(bytes) / (1 << 30),
              cold ? "read from the disc" : "in the page cache", ours.vts, ours.pgc, ours.frames,
              rounds);
  Report("plain read of the VOB files", read, read);
  Report("analysis", ours.analysis, read);
  Report("preparation", ours.preparation, read);
  Report("rebuild (video, audio, subs)", ours.rebuild, read);
  return 0;
}
