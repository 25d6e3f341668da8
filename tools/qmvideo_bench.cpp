// Frame access times of qmvideo.dll on a title, against FFmpeg.
//
//   qmvideo_bench <DVD folder (holding VIDEO_TS)> <work-folder> [vts] [pgc] [film flag]
//
// Indexes the title set with tessmar and cuts out the program chain
// (default VTS 1, PGC 1, film flag 0), then reports: the median and worst
// time of getRGBFrame for random frames (each on a decoder that has just
// been somewhere else), sequential frames per second, and the time to open,
// sample 20 frames spread over the title as border detection does, and
// close. The peer, in the same run: FFmpeg decoding each of the same 20
// frames by seeking into the title's bytes (ffmpeg -ss ... -frames:v 1).
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "outside/qmvideo/qmvideo.h"
#include "tessmar/formats/index_text.h"
#include "tessmar/formats/virtual_file.h"
#include "tessmar/include/tessmar.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The bytes the ".vfm" names, in order, into `out`.
bool WriteTitleBytes(const std::string& vfm, const std::string& out) {
  namespace formats = tessmar::formats;
  std::string text;
  formats::VirtualFileMap map;
  formats::VirtualFile title;
  if (!formats::ReadWholeFile(vfm, &text) || !formats::ParseVirtualFileMap(text, &map) ||
      !title.Open(map))
    return false;
  FILE* o = std::fopen(out.c_str(), "wb");
  bool ok = o != nullptr;
  std::vector<uint8_t> buf(1 << 20);
  for (int64_t at = 0; ok && at < title.Size();) {
    const size_t n = title.Read(at, buf.data(), buf.size());
    ok = n > 0 && std::fwrite(buf.data(), 1, n, o) == n;
    at += static_cast<int64_t>(n);
  }
  if (o) std::fclose(o);
  return ok;
}

// CPU time of this thread: the figures of a busy machine without the waits.
double CpuNow() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <DVD folder> <work-folder> [vts] [pgc] [film flag]\n", argv[0]);
    return 2;
  }
  // Absolute paths: the index files name the VOBs as given.
  mkdir(argv[2], 0755);
  char dvd_path[PATH_MAX], work_path[PATH_MAX];
  if (!realpath(argv[1], dvd_path) || !realpath(argv[2], work_path)) {
    std::fprintf(stderr, "no such folder\n");
    return 1;
  }
  const std::string dvd = dvd_path, work = work_path;
  const int vts = argc > 3 ? std::atoi(argv[3]) : 1;
  const int pgc = argc > 4 ? std::atoi(argv[4]) : 1;
  const unsigned char film = argc > 5 ? static_cast<unsigned char>(std::atoi(argv[5])) : 0;

  char name[64];
  std::string vobs;
  for (int k = 1; k <= 9; ++k) {
    std::snprintf(name, sizeof name, "/VIDEO_TS/VTS_%02d_%d.VOB", vts, k);
    if (!Exists(dvd + name)) break;
    vobs += (vobs.empty() ? "" : "|") + dvd + name;
  }
  std::snprintf(name, sizeof name, "/vts%02d", vts);
  const std::string vts_base = work + name;
  static TessmarStatus status;
  if (vobs.empty() || Tessmar(vobs.c_str(), vts_base.c_str(), 0, 0, &status) != 0) {
    std::fprintf(stderr, "cannot index %s\n", dvd.c_str());
    return 1;
  }
  while (std::atomic_ref<uint8_t>(status.running).load()) usleep(2000);
  std::snprintf(name, sizeof name, "/VIDEO_TS/VTS_%02d_0.IFO", vts);
  const std::string ifo = dvd + name;
  std::snprintf(name, sizeof name, "/vts%02d_pgc%02d_a0", vts, pgc);
  const std::string title = work + name;
  if (!qmRebuild(vts_base.c_str(), ifo.c_str(), title.c_str(), 1, 0, 0, pgc, 0)) {
    std::fprintf(stderr, "cannot rebuild the title\n");
    return 1;
  }
  const std::string qmvi = title + ".qmvi", mpg = title + ".mpg";
  if (!WriteTitleBytes(title + ".vfm", mpg)) return 1;

  const QmVideoRecord* r = openMPEG2Source(qmvi.c_str(), film);
  if (!r) {
    std::fprintf(stderr, "cannot open %s\n", qmvi.c_str());
    return 1;
  }
  const int frames = r->frames;
  const double fps = static_cast<double>(r->rateNumerator) / r->rateDenominator;
  std::printf("title %s: %dx%d, %d frames at %.3f/s, film flag %d\n", qmvi.c_str(), r->width,
              r->height, frames, fps, film);

  // Random frames, each far from the one before.
  std::mt19937 random(2026);
  std::vector<double> times, cpu_times;
  int failures = 0;
  int previous = frames / 2;
  for (int i = 0; i < 200; ++i) {
    int n;
    do n = static_cast<int>(random() % frames);
    while (frames > 60 && std::abs(n - previous) < 30);
    previous = n;
    const double t0 = Now(), c0 = CpuNow();
    if (!getRGBFrame(n)) ++failures;
    times.push_back((Now() - t0) * 1000);
    cpu_times.push_back((CpuNow() - c0) * 1000);
  }
  std::printf("random getRGBFrame: median %.2f ms, worst %.2f ms over %zu frames (%d failed)\n",
              Median(times), *std::max_element(times.begin(), times.end()), times.size(), failures);
  std::printf("  (CPU time: median %.2f ms, worst %.2f ms)\n", Median(cpu_times),
              *std::max_element(cpu_times.begin(), cpu_times.end()));

  // Sequential.
  r = openMPEG2Source(qmvi.c_str(), film);
  double t0 = Now();
  const int sequential = std::min(frames, 3000);
  for (int n = 0; n < sequential; ++n)
    if (!getRGBFrame(n)) ++failures;
  const double seq_time = Now() - t0;
  std::printf("sequential: %.1f frames/s (%d frames in %.3f s)\n", sequential / seq_time,
              sequential, seq_time);
  closeVideo();

  // Border detection's sampling: open, 20 frames at i x (N / 21), close.
  std::vector<int> samples;
  for (int i = 1; i <= 20; ++i) samples.push_back(i * (frames / 21));
  t0 = Now();
  double c0 = CpuNow();
  r = openMPEG2Source(qmvi.c_str(), film);
  for (int n : samples)
    if (!r || !getRGBFrame(n)) ++failures;
  closeVideo();
  const double ours = Now() - t0, ours_cpu = CpuNow() - c0;

  // The peer: one FFmpeg run per sample, seeking by time.
  std::vector<double> peer_each;
  t0 = Now();
  for (int n : samples) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.4f", n / fps);
    const std::string cmd = std::string("ffmpeg -nostdin -v error -ss ") + seconds + " -i '" + mpg +
                            "' -frames:v 1 -pix_fmt bgr24 -f rawvideo -y /dev/null";
    const double t1 = Now();
    if (std::system(cmd.c_str()) != 0) ++failures;
    peer_each.push_back((Now() - t1) * 1000);
  }
  const double peer = Now() - t0;
  std::printf("border sampling (20 frames): qmvideo %.3f s, ffmpeg -ss %.3f s, ratio %.3f\n", ours,
              peer, ours / peer);
  std::printf("  (qmvideo CPU time %.3f s)\n", ours_cpu);
  std::printf("ffmpeg -ss per frame: median %.2f ms; qmvideo random median / ffmpeg: %.3f\n",
              Median(peer_each), Median(times) / Median(peer_each));
  if (failures) std::printf("%d requests failed\n", failures);
  return failures ? 1 : 0;
}
