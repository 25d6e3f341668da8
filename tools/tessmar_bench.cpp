// Indexing speed of libtessmar against a plain read and FFmpeg's demuxer on
// the same files.
//
//   tessmar_bench <source.VOB> <work-folder> [GiB] [rounds] [--index-only]
//
// Builds a title set of at least GiB gibibytes (default 1) from the source
// VOB repeated, cut into 1 GiB files VTS_01_1.VOB … as on a disc, reads it
// once so that it sits in the page cache, then runs `rounds` rounds (default
// 3) of
//   - an index run (audio and sub-pictures wanted),
//   - a plain read of the files,
//   - ffmpeg -i concat:… -map 0 -c copy -f null -  on the same files,
// in an order that turns round every round, and prints the median wall time
// and throughput of each with their ratios, in wall and processor time,
// and the peak memory of this process and of ffmpeg. With --index-only only
// the index runs take place, so that the peak memory of this process is that
// of the index run alone.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of this process (all its threads), user and system.
double CpuNow() {
  struct rusage u {};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Starts the peak count again from the current resident size.
void ResetPeakRss() {
  FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return;
  std::fputs("5", f);
  std::fclose(f);
}

long PeakRssKb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
  std::fclose(f);
  return kb;
}

std::string ReadAll(const std::string& path) {
  std::string data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  std::fclose(f);
  return data;
}

// Reads every file through once; returns the bytes read.
int64_t PlainRead(const std::vector<std::string>& files) {
  std::vector<char> buf(4 << 20);
  int64_t total = 0;
  for (const std::string& f : files) {
    int fd = open(f.c_str(), O_RDONLY);
    if (fd < 0) continue;
    ssize_t n;
    while ((n = read(fd, buf.data(), buf.size())) > 0) total += n;
    close(fd);
  }
  return total;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The title set: the source repeated, cut into 1 GiB files (kept from an
// earlier run when they are complete).
bool MakeTitleSet(const std::string& unit, const std::string& work, int64_t gib,
                  std::vector<std::string>* files) {
  mkdir(work.c_str(), 0777);
  int64_t written = 0;
  size_t at = 0;
  for (int k = 1; written < gib * kGiB; ++k) {
    std::string path = work + "/VTS_01_" + std::to_string(k) + ".VOB";
    files->push_back(path);
    written += kGiB;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && st.st_size == kGiB) {
      at = (at + static_cast<size_t>(kGiB % static_cast<int64_t>(unit.size()))) % unit.size();
      continue;
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
      std::perror(path.c_str());
      return false;
    }
    for (int64_t left = kGiB; left > 0;) {
      size_t n =
          static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(unit.size() - at)));
      std::fwrite(unit.data() + at, 1, n, out);
      at = (at + n) % unit.size();
      left -= static_cast<int64_t>(n);
    }
    std::fclose(out);
  }
  return true;
}

struct IndexResult {
  double wall = 0;
  double cpu = 0;
  bool finished = false;
};

IndexResult IndexRun(const tessmar::VobList& list, const std::string& base) {
  TessmarStatus status{};
  IndexResult r;
  const double cpu0 = CpuNow();
  const double t0 = Now();
  if (Tessmar(list.Files(), base.c_str(), 1, 1, &status) != 0) return r;
  while (std::atomic_ref<uint8_t>(status.running).load())
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  r.wall = Now() - t0;
  r.cpu = CpuNow() - cpu0;
  r.finished = status.finished == 1;
  return r;
}

// ffmpeg's demuxer over the files; its wall time, processor time and peak
// memory.
double FfmpegRun(const std::string& concat, double* cpu, long* max_rss_kb) {
  const double t0 = Now();
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, 2);  // its warnings about repeated time stamps
    execlp("ffmpeg", "ffmpeg", "-nostdin", "-v", "error", "-i", concat.c_str(), "-map", "0", "-c",
           "copy", "-f", "null", "-", static_cast<char*>(nullptr));
    _exit(127);
  }
  int wstatus = 0;
  struct rusage usage {};
  wait4(pid, &wstatus, 0, &usage);
  const double wall = Now() - t0;
  *cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) std::fprintf(stderr, "ffmpeg failed\n");
  *max_rss_kb = std::max(*max_rss_kb, usage.ru_maxrss);
  return wall;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  bool index_only = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--index-only") == 0)
      index_only = true;
    else
      args.push_back(argv[i]);
  }
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: %s <source.VOB> <work-folder> [GiB] [rounds] [--index-only]\n",
                 argv[0]);
    return 2;
  }
  const std::string source = args[0];
  const std::string work = args[1];
  const int64_t gib = args.size() > 2 ? std::atoll(args[2].c_str()) : 1;
  const int rounds = args.size() > 3 ? std::atoi(args[3].c_str()) : 3;
  const std::string unit = ReadAll(source);
  if (unit.empty() || unit.size() % 2048 != 0) {
    std::fprintf(stderr, "source must be a non-empty VOB of whole sectors\n");
    return 2;
  }
  if (gib < 1 || gib > 9 || rounds < 1) {
    std::fprintf(stderr, "GiB must be 1-9 (one title set), rounds at least 1\n");
    return 2;
  }
  std::vector<std::string> files;
  if (!MakeTitleSet(unit, work, gib, &files)) return 1;
  const tessmar::VobList list(files);
  std::string concat = "concat:";
  for (size_t i = 0; i < files.size(); ++i) concat += (i ? "|" : "") + files[i];
  const int64_t bytes = PlainRead(files);  // into the page cache
  const double mib = static_cast<double>(bytes) / (1 << 20);
  ResetPeakRss();
  const long rss_before = PeakRssKb();

  std::vector<double> index_wall, index_cpu, read_wall, read_cpu, ffmpeg_wall, ffmpeg_cpu;
  long ffmpeg_rss = 0;
  bool finished = true;
  for (int round = 0; round < rounds; ++round) {
    std::vector<std::function<void()>> runs = {[&] {
      const IndexResult r = IndexRun(list, work + "/bench");
      finished = finished && r.finished;
      index_wall.push_back(r.wall);
      index_cpu.push_back(r.cpu);
    }};
    if (!index_only) {
      runs.push_back([&] {
        const double t0 = Now(), c0 = CpuNow();
        PlainRead(files);
        read_wall.push_back(Now() - t0);
        read_cpu.push_back(CpuNow() - c0);
      });
      runs.push_back([&] {
        double cpu = 0;
        ffmpeg_wall.push_back(FfmpegRun(concat, &cpu, &ffmpeg_rss));
        ffmpeg_cpu.push_back(cpu);
      });
    }
    if (round % 2) std::reverse(runs.begin(), runs.end());
    for (auto& run : runs) run();
  }
  const long rss_index = PeakRssKb();

  const double index_s = Median(index_wall);
  std::printf("title set: %zu files, %.0f MiB (from %s), %d rounds, medians\n", files.size(), mib,
              source.c_str(), rounds);
  std::printf("index run finished=%d: %.3f s, %.0f MiB/s; processor time %.3f s (%.0f MiB/s)\n",
              finished ? 1 : 0, index_s, mib / index_s, Median(index_cpu), mib / Median(index_cpu));
  if (!index_only) {
    const double read_s = Median(read_wall), ffmpeg_s = Median(ffmpeg_wall);
    const double index_c = Median(index_cpu), read_c = Median(read_cpu),
                 ffmpeg_c = Median(ffmpeg_cpu);
    std::printf("plain read: %.3f s, %.0f MiB/s; processor time %.3f s (%.0f MiB/s)\n", read_s,
                mib / read_s, read_c, mib / read_c);
    std::printf("ffmpeg -c copy -f null: %.3f s, %.0f MiB/s; processor time %.3f s\n", ffmpeg_s,
                mib / ffmpeg_s, ffmpeg_c);
    // On a loaded machine the processor times are the fairer measure: the
    // index run's two threads take a larger share of the processors than
    // the single-threaded read.
    std::printf(
        "ratio index/plain read: %.2f in wall time, %.2f in processor time (speed of the index "
        "run over that of the read)\n",
        read_s / index_s, read_c / index_c);
    std::printf("ratio index/ffmpeg: %.2f in wall time, %.2f in processor time\n",
                ffmpeg_s / index_s, ffmpeg_c / index_c);
    std::printf("peak RSS: this process %ld KiB before the runs, %ld KiB after; ffmpeg %ld KiB\n",
                rss_before, rss_index, ffmpeg_rss);
  } else {
    std::printf("peak RSS of this process: %ld KiB before the index runs, %ld KiB after (+%ld)\n",
                rss_before, rss_index, rss_index - rss_before);
  }
  return finished ? 0 : 1;
}
