// Indexing speed of libtessmar against FFmpeg's demuxer on the same files.
//
//   tessmar_bench <source.VOB> <work-folder> [GiB]
//
// Builds a title set of at least GiB gibibytes (default 1) from the source
// VOB repeated, cut into 1 GiB files VTS_01_1.VOB … as on a disc, reads it
// once so that it sits in the page cache, then in the same run times
//   - an index run (audio and sub-pictures wanted),
//   - ffmpeg -i concat:… -map 0 -c copy -f null -  on the same files,
//   - a plain read of the files,
// and prints the throughputs, their ratios and the peak memory of each.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <source.VOB> <work-folder> [GiB]\n", argv[0]);
    return 2;
  }
  const std::string source = argv[1];
  const std::string work = argv[2];
  const int64_t gib = argc > 3 ? std::atoll(argv[3]) : 1;
  std::string unit = ReadAll(source);
  if (unit.empty() || unit.size() % 2048 != 0) {
    std::fprintf(stderr, "source must be a non-empty VOB of whole sectors\n");
    return 2;
  }
  if (gib < 1 || gib > 9) {
    std::fprintf(stderr, "GiB must be 1-9 (one title set)\n");
    return 2;
  }
  mkdir(work.c_str(), 0777);

  // The title set: the source repeated, cut into 1 GiB files.
  std::vector<std::string> files;
  const int64_t total = gib * kGiB;
  int64_t written = 0;
  size_t at = 0;
  for (int k = 1; written < total; ++k) {
    std::string path = work + "/VTS_01_" + std::to_string(k) + ".VOB";
    files.push_back(path);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && st.st_size == kGiB) {
      written += kGiB;
      continue;  // kept from an earlier run
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
      std::perror(path.c_str());
      return 1;
    }
    for (int64_t left = kGiB; left > 0;) {
      size_t n =
          static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(unit.size() - at)));
      std::fwrite(unit.data() + at, 1, n, out);
      at = (at + n) % unit.size();
      left -= static_cast<int64_t>(n);
    }
    std::fclose(out);
    written += kGiB;
  }
  std::string list, concat = "concat:";
  for (size_t i = 0; i < files.size(); ++i) {
    list += (i ? "|" : "") + files[i];
    concat += (i ? "|" : "") + files[i];
  }
  PlainRead(files);  // into the page cache

  // Plain read.
  double t0 = Now();
  int64_t bytes = PlainRead(files);
  double read_s = Now() - t0;

  // Index run.
  long rss_before = PeakRssKb();
  TessmarStatus status{};
  t0 = Now();
  int r = Tessmar(list.c_str(), (work + "/bench").c_str(), 1, 1, &status);
  if (r != 0) {
    std::fprintf(stderr, "Tessmar returned %d\n", r);
    return 1;
  }
  while (std::atomic_ref<uint8_t>(status.running).load())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  double index_s = Now() - t0;
  long rss_index = PeakRssKb();

  // FFmpeg's demuxer over the same files.
  t0 = Now();
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
  double ffmpeg_s = Now() - t0;
  if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) std::fprintf(stderr, "ffmpeg failed\n");

  const double mib = static_cast<double>(bytes) / (1 << 20);
  std::printf("title set: %zu files, %.0f MiB (from %s)\n", files.size(), mib, source.c_str());
  std::printf("index run finished=%d: %.3f s, %.0f MiB/s\n", status.finished, index_s,
              mib / index_s);
  std::printf("ffmpeg -c copy -f null: %.3f s, %.0f MiB/s\n", ffmpeg_s, mib / ffmpeg_s);
  std::printf("plain read: %.3f s, %.0f MiB/s\n", read_s, mib / read_s);
  std::printf("ratio index/ffmpeg: %.2f\n", ffmpeg_s / index_s);
  std::printf("ratio index/plain read: %.2f\n", read_s / index_s);
  std::printf("peak RSS: bench before index %ld KiB, after index %ld KiB, ffmpeg %ld KiB\n",
              rss_before, rss_index, usage.ru_maxrss);
  return status.finished == 1 ? 0 : 1;
}
