// A complete job script served by the frameserver against FFmpeg doing the
// same work on the same bytes, in one run:
//
//   job_script_bench <VIDEO_TS folder> [passes] [audio stream] [sub-picture stream]
//
// The title set is indexed and program chain 1 cut out with tessmar into a
// temporary folder. The script, in the job writer's shape: complex inverse
// telecine (Telecide, Decimate), crop of 8 pixels left and right,
// LanczosResize to 640 x 480, VobSub, and the AC-3 stream mixed to stereo;
// every frame and, after each frame, its samples are fetched through
// avisynth.dll as an encoder does. FFmpeg runs on the title's bytes with the
// equivalent graph (fieldmatch, decimate, crop, lanczos scale, the
// sub-picture stream scaled and overlaid with the index's palette, AC-3
// decoded and mixed to stereo) into a null output, on one thread as the
// frameserver serves on one. The two alternate; the processor time of each
// (FFmpeg's as a child) and the wall time are reported, with the median
// ratio of neighbouring passes; on a loaded machine the processor time is
// the fair measure.
#include <dlfcn.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "outside/frameserver/include/frameserver.h"
#include "tessmar/include/tessmar.h"

extern char** environ;

namespace {

struct Cost {
  double cpu = 0;   // seconds of processor time
  double wall = 0;  // seconds
};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double SelfCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

std::string VobList(const std::string& video_ts) {
  std::string list;
  for (int part = 1; part <= 9; ++part) {
    const std::string path = video_ts + "/VTS_01_" + std::to_string(part) + ".VOB";
    if (access(path.c_str(), R_OK) != 0) break;
    list += (list.empty() ? "" : "|") + path;
  }
  return list;
}

// The concatenation of a map's byte ranges (the title's program stream).
bool WriteTitleBytes(const std::string& map_path, const std::string& out_path) {
  std::ifstream map(map_path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(map, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (lines.size() < 3) return false;
  const size_t files = std::stoul(lines[1]);
  std::vector<std::ifstream> in;
  for (size_t f = 0; f < files; ++f) in.emplace_back(lines[2 + f], std::ios::binary);
  std::ofstream out(out_path, std::ios::binary);
  std::vector<char> buffer;
  for (size_t i = 3 + files; i < lines.size(); ++i) {
    unsigned file;
    unsigned long long offset, length;
    if (std::sscanf(lines[i].c_str(), "%u %llx %llx", &file, &offset, &length) != 3 ||
        file >= files)
      continue;
    buffer.resize(length);
    in[file].seekg(static_cast<std::streamoff>(offset));
    in[file].read(buffer.data(), static_cast<std::streamsize>(length));
    out.write(buffer.data(), in[file].gcount());
  }
  return static_cast<bool>(out);
}

Cost Frameserver(void* library, const std::string& script, uint64_t* sum) {
  auto open = reinterpret_cast<kvfs_open_script_fn>(dlsym(library, "kvfs_open_script"));
  auto info = reinterpret_cast<kvfs_script_info_fn>(dlsym(library, "kvfs_script_info"));
  auto frame = reinterpret_cast<kvfs_get_frame_fn>(dlsym(library, "kvfs_get_frame"));
  auto audio = reinterpret_cast<kvfs_get_audio_fn>(dlsym(library, "kvfs_get_audio"));
  auto close = reinterpret_cast<kvfs_close_script_fn>(dlsym(library, "kvfs_close_script"));
  const double wall = Now(), cpu = SelfCpu();
  kvfs_open_error error{};
  kvfs_script* s = open(script.c_str(), &error);
  if (!s) {
    std::fprintf(stderr, "job_script_bench: %s\n", error.text);
    std::exit(1);
  }
  kvfs_clip_info clip{};
  info(s, &clip);
  std::vector<int16_t> samples;
  int64_t served = 0;
  for (int64_t n = 0; n < clip.frame_count; ++n) {
    const kvfs_frame* f = frame(s, n);
    if (!f) std::exit(1);
    *sum += f->data[0][static_cast<size_t>(f->pitch[0]) * (f->height / 2) + n % 100];
    // The samples up to the end of this frame.
    const int64_t end =
        (n + 1) * clip.audio_rate * int64_t{clip.fps_denominator} / clip.fps_numerator;
    const int64_t count = std::min(end, clip.sample_count) - served;
    if (count > 0) {
      samples.resize(static_cast<size_t>(count * clip.channels));
      if (audio(s, served, count, KVFS_SAMPLE_S16, samples.data()) != 0) std::exit(1);
      *sum += static_cast<uint16_t>(samples[0]);
      served += count;
    }
  }
  close(s);
  return {SelfCpu() - cpu, Now() - wall};
}

Cost Ffmpeg(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const double wall = Now();
  pid_t pid;
  if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) std::exit(1);
  int status = 0;
  rusage u{};
  if (wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "job_script_bench: ffmpeg failed\n");
    std::exit(1);
  }
  return {Seconds(u.ru_utime) + Seconds(u.ru_stime), Now() - wall};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: job_script_bench <VIDEO_TS folder> [passes] [audio stream] "
                 "[sub-picture stream]\n");
    return 2;
  }
  char* real = realpath(argv[1], nullptr);
  if (!real) {
    std::fprintf(stderr, "job_script_bench: no folder %s\n", argv[1]);
    return 1;
  }
  const std::string video_ts = real;
  std::free(real);
  const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const int audio_stream = argc > 3 ? std::atoi(argv[3]) : 0;
  const int sub_stream = argc > 4 ? std::atoi(argv[4]) : 0;

  char folder_template[] = "/tmp/kv-job-bench-XXXXXX";
  if (!mkdtemp(folder_template)) return 1;
  const std::string folder = folder_template;
  const std::string vts = folder + "/vts01", title = folder + "/vts01_pgc01_a0";
  TessmarStatus status{};
  if (Tessmar(VobList(video_ts).c_str(), vts.c_str(), 1, 1, &status) != 0) return 1;
  while (__atomic_load_n(&status.running, __ATOMIC_ACQUIRE) ||
         !__atomic_load_n(&status.ended, __ATOMIC_ACQUIRE))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (qmRebuild(vts.c_str(), (video_ts + "/VTS_01_0.IFO").c_str(), title.c_str(), 1, 1, 1, 1, 0) !=
      1) {
    std::fprintf(stderr, "job_script_bench: cannot cut out the title\n");
    return 1;
  }
  const std::string st = "_st" + std::to_string(sub_stream);
  std::rename((vts + st + ".sub").c_str(), (title + st + ".sub").c_str());
  if (!WriteTitleBytes(title + ".vfm", title + ".mpg")) return 1;
  std::string palette;
  {
    std::ifstream idx(title + st + ".idx");
    for (std::string line; std::getline(idx, line);)
      if (line.rfind("palette: ", 0) == 0) palette = line.substr(9);
    palette.erase(std::remove_if(palette.begin(), palette.end(),
                                 [](char c) { return c == ' ' || c == '\r'; }),
                  palette.end());
  }
  if (palette.empty()) {
    std::fprintf(stderr, "job_script_bench: the title has no sub-picture stream %d\n", sub_stream);
    return 1;
  }

  const std::string program = KV_PROGRAM_FOLDER "/";
  const std::string script = folder + "/out01.avs";
  FILE* f = std::fopen(script.c_str(), "wb");
  std::fprintf(f,
               "LoadPlugin(\"%sqmvideo.dll\")\r\nLoadPlugin(\"%sDecomb.dll\")\r\n"
               "LoadPlugin(\"%sqmaudio_ac3.dll\")\r\nLoadPlugin(\"%sVSFilter.dll\")\r\n\r\n"
               "video = qmVideoSource(\"vts01_pgc01_a0.qmvi\", idct=4, force_film=false)\r\n"
               "video = Telecide(video, order=1).Decimate(cycle=5)\r\n"
               "video = LanczosResize(video, 640, 480, 8, 0, 704, 480)\r\n"
               "video = VobSub(video, \"vts01_pgc01_a0%s.idx\")\r\n\r\n"
               "audio = qmAudioAC3Source(\"vts01_pgc01_a0_at%d.vfm\", channels=2)\r\n\r\n"
               "AudioDub(video, audio)\r\n",
               program.c_str(), program.c_str(), program.c_str(), program.c_str(), st.c_str(),
               audio_stream);
  std::fclose(f);
  char level[32];
  std::snprintf(level, sizeof level, "%.17g", 0.70710678118654752440);
  char audio_map[16];
  std::snprintf(audio_map, sizeof audio_map, "0:i:0x%x", 0x80 + audio_stream);
  const std::vector<std::string> ffmpeg = {
      "ffmpeg",
      "-nostdin",
      "-v",
      "fatal",
      "-threads",
      "1",
      "-palette",
      palette,
      "-i",
      title + ".mpg",
      "-filter_complex_threads",
      "1",
      "-filter_threads",
      "1",
      "-filter_complex",
      "[0:v]fieldmatch=order=tff,decimate=cycle=5,crop=704:480:8:0,scale=640:480:flags=lanczos[v];"
      "[0:s]scale=640:480[s];[v][s]overlay[out]",
      "-map",
      "[out]",
      "-map",
      audio_map,
      "-af",
      std::string("aresample=ochl=stereo:rematrix_maxval=1:center_mix_level=") + level +
          ":surround_mix_level=" + level + ":lfe_mix_level=" + level,
      "-f",
      "null",
      "-"};

  void* library = dlopen((program + "avisynth.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "job_script_bench: %s\n", dlerror());
    return 1;
  }
  uint64_t sum = 0;
  std::vector<double> cpu_ratios, wall_ratios;
  Cost best_ours{1e9, 1e9}, best_theirs{1e9, 1e9};
  // Alternating which goes first evens out warming up and drifting load.
  for (int pass = 0; pass < passes; ++pass) {
    Cost ours, theirs;
    if (pass % 2) theirs = Ffmpeg(ffmpeg);
    ours = Frameserver(library, script, &sum);
    if (pass % 2 == 0) theirs = Ffmpeg(ffmpeg);
    cpu_ratios.push_back(ours.cpu / theirs.cpu);
    wall_ratios.push_back(ours.wall / theirs.wall);
    best_ours = {std::min(best_ours.cpu, ours.cpu), std::min(best_ours.wall, ours.wall)};
    best_theirs = {std::min(best_theirs.cpu, theirs.cpu), std::min(best_theirs.wall, theirs.wall)};
  }
  std::printf("title: %s, %d passes each\n", video_ts.c_str(), passes);
  std::printf("frameserver: %6.2f s processor, %6.2f s wall (best pass)\n", best_ours.cpu,
              best_ours.wall);
  std::printf("ffmpeg:      %6.2f s processor, %6.2f s wall (best pass)\n", best_theirs.cpu,
              best_theirs.wall);
  std::printf(
      "frameserver / ffmpeg: %.2f processor, %.2f wall (medians of paired passes; "
      "checksum %" PRIu64 ")\n",
      Median(cpu_ratios), Median(wall_ratios), sum);
  std::system(("rm -rf '" + folder + "'").c_str());
  return 0;
}
