// Serving a title through the frameserver against the decoder alone, in one
// run: frameserver_bench <VIDEO_TS folder> [vts] [pgc] [passes]
//
// The title set is indexed and the program chain cut out with tessmar into
// a temporary folder. Then, alternately, every frame is fetched from the
// decoder alone (qmvideo's frame source, compiled into this program, giving
// its planar 4:2:0 pictures) and through avisynth.dll from the program
// folder with the script qmVideoSource(title, idct=4, force_film=false),
// which serves the same planar pictures of qmvideo.dll. Both do the same
// work but for the serving, which is what is measured: in processor time of
// the process (all its threads), the best pass of each, and the median
// ratio of neighbouring passes as the extra cost of serving.
#include <dlfcn.h>
#include <unistd.h>

#include <dirent.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "outside/frameserver/include/frameserver.h"
#include "outside/qmvideo/video_source.h"
#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"

namespace {

// Processor time of the process, all threads together.
double Now() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

std::vector<std::string> VobPaths(const std::string& video_ts, int vts) {
  std::vector<std::string> list;
  for (int part = 1; part <= 9; ++part) {
    char name[64];
    std::snprintf(name, sizeof name, "/VTS_%02d_%d.VOB", vts, part);
    const std::string path = video_ts + name;
    if (access(path.c_str(), R_OK) != 0) break;
    list.push_back(path);
  }
  return list;
}

// Fetches every frame; returns frames per processor second and adds a few
// bytes per frame to a checksum, so that neither loop can be skipped.
double DecoderPass(const std::string& qmvi, uint64_t* sum) {
  std::unique_ptr<qmvideo::VideoSource> source = qmvideo::VideoSource::Open(qmvi, false);
  if (!source) return 0;
  const int frames = source->Record().frames;
  const double start = Now();
  for (int n = 0; n < frames; ++n) {
    AVFrame* f = source->PlanarFrame(n);
    if (!f) return 0;
    *sum += f->data[0][static_cast<size_t>(f->linesize[0]) * (f->height / 2) + n % 1000];
    av_frame_free(&f);
  }
  return frames / (Now() - start);
}

double FrameserverPass(void* library, const std::string& script, uint64_t* sum) {
  auto open = reinterpret_cast<kvfs_open_script_fn>(dlsym(library, "kvfs_open_script"));
  auto info = reinterpret_cast<kvfs_script_info_fn>(dlsym(library, "kvfs_script_info"));
  auto frame = reinterpret_cast<kvfs_get_frame_fn>(dlsym(library, "kvfs_get_frame"));
  auto close = reinterpret_cast<kvfs_close_script_fn>(dlsym(library, "kvfs_close_script"));
  kvfs_open_error error{};
  kvfs_script* s = open(script.c_str(), &error);
  if (!s) {
    std::fprintf(stderr, "frameserver_bench: %s\n", error.text);
    return 0;
  }
  kvfs_clip_info clip{};
  info(s, &clip);
  const double start = Now();
  for (int64_t n = 0; n < clip.frame_count; ++n) {
    const kvfs_frame* f = frame(s, n);
    if (!f) return 0;
    *sum += f->data[0][static_cast<size_t>(f->pitch[0]) * (f->height / 2) + n % 1000];
  }
  const double seconds = Now() - start;
  close(s);
  return static_cast<double>(clip.frame_count) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: frameserver_bench <VIDEO_TS folder> [vts] [pgc] [passes]\n");
    return 2;
  }
  // The index keeps the paths it is given; the rebuild needs them whole.
  char* real = realpath(argv[1], nullptr);
  if (!real) {
    std::fprintf(stderr, "frameserver_bench: no folder %s\n", argv[1]);
    return 1;
  }
  const std::string video_ts = real;
  std::free(real);
  const int vts = argc > 2 ? std::atoi(argv[2]) : 1;
  const int pgc = argc > 3 ? std::atoi(argv[3]) : 1;
  const int passes = argc > 4 ? std::max(1, std::atoi(argv[4])) : 15;

  char folder_template[] = "/tmp/kv-fs-bench-XXXXXX";
  if (!mkdtemp(folder_template)) return 1;
  const std::string folder = folder_template;
  const std::string vts_base = folder + "/vts";
  const std::string title = folder + "/title";
  TessmarStatus status{};
  if (Tessmar(tessmar::VobList(VobPaths(video_ts, vts)).Files(), vts_base.c_str(), 0, 0, &status) !=
      0) {
    std::fprintf(stderr, "frameserver_bench: cannot index %s\n", video_ts.c_str());
    return 1;
  }
  while (__atomic_load_n(&status.running, __ATOMIC_ACQUIRE) ||
         !__atomic_load_n(&status.ended, __ATOMIC_ACQUIRE))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  char ifo[64];
  std::snprintf(ifo, sizeof ifo, "/VTS_%02d_0.IFO", vts);
  if (qmRebuild(vts_base.c_str(), (video_ts + ifo).c_str(), title.c_str(), 1, 0, 0, pgc, 0) != 1) {
    std::fprintf(stderr, "frameserver_bench: cannot cut out program chain %d\n", pgc);
    return 1;
  }
  const std::string program = KV_PROGRAM_FOLDER "/";
  const std::string script = folder + "/bench.avs";
  FILE* f = std::fopen(script.c_str(), "wb");
  std::fprintf(f,
               "LoadPlugin(\"%sqmvideo.dll\")\r\n\r\nqmVideoSource(\"title.qmvi\", idct=4, "
               "force_film=false)\r\n",
               program.c_str());
  std::fclose(f);
  void* library = dlopen((program + "avisynth.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "frameserver_bench: %s\n", dlerror());
    return 1;
  }

  {
    const std::unique_ptr<qmvideo::VideoSource> source =
        qmvideo::VideoSource::Open(title + ".qmvi", false);
    if (!source) return 1;
    const QmVideoRecord& r = source->Record();
    std::printf("title: %dx%d, %d frames, %d passes each\n", r.width, r.height, r.frames, passes);
  }
  double best_decoder = 0, best_served = 0;
  std::vector<double> ratios;  // decoder rate / served rate of neighbouring passes
  uint64_t sum = 0;
  // Alternating which goes first evens out warming up and drifting load;
  // the median of the paired ratios is what is reported.
  for (int pass = 0; pass < passes; ++pass) {
    double served = 0, decoder = 0;
    if (pass % 2) served = FrameserverPass(library, script, &sum);
    decoder = DecoderPass(title + ".qmvi", &sum);
    if (pass % 2 == 0) served = FrameserverPass(library, script, &sum);
    if (decoder <= 0 || served <= 0) return 1;
    best_decoder = std::max(best_decoder, decoder);
    best_served = std::max(best_served, served);
    ratios.push_back(decoder / served);
  }
  std::sort(ratios.begin(), ratios.end());
  const double median = ratios[ratios.size() / 2];
  std::printf("decoder alone:           %8.1f frames per processor second (best pass)\n",
              best_decoder);
  std::printf("through the frameserver: %8.1f frames per processor second (best pass)\n",
              best_served);
  std::printf("extra cost of serving:   %+7.1f %% (median of %zu paired passes; checksum %" PRIu64
              ")\n",
              (median - 1) * 100, ratios.size(), sum);
  std::system(("rm -rf '" + folder + "'").c_str());
  return 0;
}
