// The encoder (helix/producer) against the ffmpeg command line doing the
// same work, in one run:
//
//   producer_bench [--levels] <VIDEO_TS folder> [rounds] [vts] [pgc]
//
// The title (a 720x576 one of a minute or more: pal_wide_long of the sample
// discs) is indexed and cut out with tessmar into a temporary folder, and the
// frameserver is installed there with a private registry store. The volume
// script serves the whole picture resized to 544x416 (Lanczos), with a tone
// as its sound. Each round runs, in an order that turns by one every round,
// two-pass jobs of 1800 Kbps in all with AAC at 128 Kbps: the encoder with a
// worker per processor, the encoder with its worker count forced to 1,
// ffmpeg's two-pass RealVideo 2.0 with its default options, and ffmpeg with
// the codec options of the job's complexities. ffmpeg does what the encoder
// does: it decodes the title's MPEG-2 from the VOB files in both passes,
// resizes with Lanczos to the same size, and codes a tone as the sound.
// With --levels the rounds run the encoder at every complexity a job can
// ask for instead (a worker per processor), beside ffmpeg's default.
// Reported: wall and processor time of each run and their medians, the
// ratios to ffmpeg's default two-pass and of one worker to all, the sizes
// against the budget, and PSNR and SSIM of each file, ours and ffmpeg's,
// against the same reference frames: the script's, written beforehand by
// avs2y4m.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/frameserver_install.h"
#include "outside/producer/codecs.h"
#include "platform/folders.h"
#include "platform/registry_store.h"
#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"
#include "tools/peer_pictures.h"
#include "wizard/encoder_job_file.h"
#include "wizard/settings_tables.h"

namespace {

constexpr int kWidth = 544, kHeight = 416, kFps = 25;
constexpr int32_t kTotalBitrate = 1800 * 1024;
constexpr int kAudioKbps = 128;  // "raac" flavour 7, two channels
constexpr int kAudioFlavour = 7;
// The job's complexities by default: the encoding pass's and the analysis
// pass's of every two-pass preset.
constexpr int kDefaultComplexity = 90, kFirstPassComplexity = 50;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Quote(const std::string& s) {
  return "'" + s + "'";
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

long long FileSize(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  std::fseek(f, 0, SEEK_END);
  const long long size = std::ftell(f);
  std::fclose(f);
  return size;
}

struct Timing {
  double wall = 0;
  double cpu = 0;
};

// Runs `command` through the shell; false when it fails.
bool Timed(const std::string& command, Timing* timing) {
  const double cpu = ChildrenCpuSeconds(), start = Now();
  const int rc = std::system(command.c_str());
  timing->wall = Now() - start;
  timing->cpu = ChildrenCpuSeconds() - cpu;
  if (rc != 0) std::fprintf(stderr, "producer_bench: failed: %s\n", command.c_str());
  return rc == 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// The codec options of a pass as ffmpeg arguments.
std::string FfmpegOptions(int complexity) {
  std::string args;
  for (const auto& [key, value] : producer::VideoCodecOptions(complexity))
    args += " -" + key + " " + value;
  return args;
}

// A work folder with a registry store, a system folder and the frameserver
// of the run's own; empty on failure.
std::string MakeWorkFolder() {
  char folder_template[] = "/tmp/kv-producer-bench-XXXXXX";
  if (!mkdtemp(folder_template)) return {};
  const std::string folder = folder_template;
  setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
  setenv("KESTREVANE_REGISTRY", (folder + "/registry.db").c_str(), 1);
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  app::FrameserverInstallation installation(*store, platform::SystemFolder());
  if (!store || !installation.InstallFrameserver(KV_PROGRAM_FOLDER)) {
    std::fprintf(stderr, "producer_bench: cannot install the frameserver\n");
    return {};
  }
  return folder;
}

// The program chain cut out of the disc as "title" in the folder.
bool CutOutTitle(const std::string& video_ts, int vts, int pgc, const std::string& folder) {
  TessmarStatus status{};
  if (Tessmar(tessmar::VobList(VobPaths(video_ts, vts)).Files(), (folder + "/vts").c_str(), 0, 0,
              &status) != 0) {
    std::fprintf(stderr, "producer_bench: cannot index %s\n", video_ts.c_str());
    return false;
  }
  while (__atomic_load_n(&status.running, __ATOMIC_ACQUIRE) ||
         !__atomic_load_n(&status.ended, __ATOMIC_ACQUIRE))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  char ifo[64];
  std::snprintf(ifo, sizeof ifo, "/VTS_%02d_0.IFO", vts);
  if (qmRebuild((folder + "/vts").c_str(), (video_ts + ifo).c_str(), (folder + "/title").c_str(), 1,
                0, 0, pgc, 0) != 1) {
    std::fprintf(stderr, "producer_bench: cannot cut out program chain %d\n", pgc);
    return false;
  }
  return true;
}

// The volume's script.
bool WriteScript(const std::string& folder) {
  FILE* f = std::fopen((folder + "/out01.avs").c_str(), "wb");
  if (!f) return false;
  std::fprintf(f,
               "LoadPlugin(\"qmvideo.dll\")\r\n\r\nvideo = qmVideoSource(\"title.qmvi\", idct=4, "
               "force_film=false)\r\nvideo = LanczosResize(video, %d, %d)\r\n\r\n"
               "audio = BlankClip(video, audio_rate=48000, channels=2, tone=440)\r\n\r\n"
               "AudioDub(video, audio)\r\n",
               kWidth, kHeight);
  return std::fclose(f) == 0;
}

// A two-pass job of the script at `complexity` (the analysis pass at the
// complexity every two-pass preset uses) into "<name>.rmvb", written as
// "<name>.rpjf".
bool WriteJob(const std::string& folder, const std::string& name, int complexity,
              wizard::EncoderJobFileValues* job) {
  job->ScriptName = "out01.avs";
  job->OutputPath = name + ".rmvb";
  job->TwoPass = true;
  job->AverageBitrate = kTotalBitrate;
  job->MaximumBitrate = 2 * kTotalBitrate;
  job->encoderComplexity = complexity;
  job->firstPassComplexity = kFirstPassComplexity;
  job->FrameRate = kFps;
  job->HasAudio = true;
  job->CodecName = "raac";
  job->CodecFlavour = kAudioFlavour;
  return wizard::WriteEncoderJobFile(folder + "/" + name + ".rpjf", *job);
}

// The reference frames every file is measured against, the script's, in
// "reference.y4m"; their count, 0 on failure.
long long MakeReference(const std::string& cd) {
  Timing ignored;
  if (!Timed(cd + Quote(KV_AVS2Y4M) + " out01.avs > reference.y4m", &ignored)) return 0;
  std::string out;
  FILE* p = popen((cd + Quote(KV_AVS2Y4M) + " --info out01.avs").c_str(), "r");
  char line[256];
  while (p && std::fgets(line, sizeof line, p)) out += line;
  if (p) pclose(p);
  const size_t at = out.find("frames ");
  return at == std::string::npos ? 0 : std::atoll(out.c_str() + at + 7);
}

// ffmpeg's two passes of the title at the video bit rate, with `first` and
// `second` as the passes' codec options: the VOB files decoded in each pass,
// resized as the script does, a tone coded as the sound; the file is NUT
// (see WriteNutRv20Pictures).
std::string PeerCommand(const std::string& cd, const std::string& vobs, const std::string& first,
                        const std::string& second, const std::string& name) {
  const long long video_bitrate = kTotalBitrate - kAudioKbps * 1024;
  const std::string input = "ffmpeg -nostdin -v error -y -i " + Quote("concat:" + vobs);
  const std::string video = " -vf scale=" + std::to_string(kWidth) + ":" + std::to_string(kHeight) +
                            ":flags=lanczos -c:v rv20 -b:v " + std::to_string(video_bitrate) +
                            " -passlogfile " + name;
  return cd + input + video + " -pass 1" + first + " -an -f null - && " + input +
         " -f lavfi -i sine=frequency=440:sample_rate=48000 -map 0:v:0 -map 1:a -shortest" + video +
         " -pass 2" + second + " -c:a aac -b:a " + std::to_string(kAudioKbps * 1024) +
         " -ac 2 -tag:v RV20 -f nut " + name + ".nut";
}

struct Run {
  std::string name;
  std::string command;
  std::string output;
  std::vector<double> wall, cpu;
};

std::string ProducerCommand(const std::string& cd, const std::string& job, bool one_worker) {
  return std::string(one_worker ? "export KESTREVANE_ENCODER_WORKERS=1; "
                                : "unset KESTREVANE_ENCODER_WORKERS; ") +
         cd + Quote(std::string(KV_PROGRAM_FOLDER) + "/helix/producer") + " -j \"" + job +
         ".rpjf\" -daw -lc \"e,i\" -pid pid > " + job + ".log";
}

// The four runs of a round: the encoder with all workers and with one,
// ffmpeg's default two passes and ffmpeg with the same codec options.
std::vector<Run> Runs(const std::string& cd, const std::string& vobs,
                      const wizard::EncoderJobFileValues& job) {
  return {
      {"producer, all workers", ProducerCommand(cd, "all", false), "all.rmvb", {}, {}},
      {"producer, 1 worker", ProducerCommand(cd, "one", true), "one.rmvb", {}, {}},
      {"ffmpeg default two-pass", PeerCommand(cd, vobs, "", "", "default"), "default.nut", {}, {}},
      {"ffmpeg, same options",
       PeerCommand(cd, vobs, FfmpegOptions(job.firstPassComplexity),
                   FfmpegOptions(job.encoderComplexity), "same"),
       "same.nut",
       {},
       {}},
  };
}

// The complexities a job can ask for, from the fastest to the finest.
std::vector<int> Levels() {
  std::vector<int> levels;
  for (const wizard::ComplexityPresetEntry& row :
       *wizard::ComplexityListOf(wizard::ComplexityListKind::SinglePass))
    levels.push_back(row.encoderComplexity);
  return levels;
}

// ffmpeg's default two passes, then the encoder at every level.
std::vector<Run> LevelRuns(const std::string& cd, const std::string& vobs) {
  std::vector<Run> runs = {
      {"ffmpeg default two-pass", PeerCommand(cd, vobs, "", "", "default"), "default.nut", {}, {}}};
  for (int level : Levels()) {
    const std::string name = "level" + std::to_string(level);
    runs.push_back({"producer, complexity " + std::to_string(level),
                    ProducerCommand(cd, name, false),
                    name + ".rmvb",
                    {},
                    {}});
  }
  return runs;
}

bool RunRounds(int rounds, std::vector<Run>* runs) {
  for (int round = 0; round < rounds; ++round) {
    // The order turns by one each round, so that no run always meets the
    // same cache or the same neighbour.
    for (size_t k = 0; k < runs->size(); ++k) {
      Run& run = (*runs)[(k + static_cast<size_t>(round)) % runs->size()];
      Timing t;
      if (!Timed(run.command, &t)) return false;
      run.wall.push_back(t.wall);
      run.cpu.push_back(t.cpu);
      std::printf("round %d: %-26s %7.2f s wall, %7.2f s cpu\n", round + 1, run.name.c_str(),
                  t.wall, t.cpu);
      std::fflush(stdout);
    }
  }
  return true;
}

// PSNR (average, dB) and SSIM (all planes) of `file` against the
// reference frames, and its size in bytes.
struct Measured {
  double psnr = 0, ssim = 0, bytes = 0;
};
Measured Quality(const std::string& cd, const std::string& folder, const std::string& file,
                 long long frames) {
  const std::string compare =
      " -i reference.y4m -lavfi \"[0:v]split[a][b];[1:v]split[c][d];[a][c]psnr;[b][d]ssim\" "
      "-f null - > quality.log 2>&1";
  const bool peer = file.size() > 4 && file.compare(file.size() - 4, 4, ".nut") == 0;
  if (peer) {
    // ffmpeg reads the peer's pictures, decoded here, as raw frames.
    FILE* p = popen((cd + "ffmpeg -nostdin -hide_banner -f rawvideo -pix_fmt yuv420p -s " +
                     std::to_string(kWidth) + "x" + std::to_string(kHeight) + " -r " +
                     std::to_string(kFps) + " -i -" + compare)
                        .c_str(),
                    "w");
    const long long pictures = p ? kv_tools::WriteNutRv20Pictures(folder + "/" + file, p) : -1;
    if (p) pclose(p);
    if (pictures != frames)
      std::fprintf(stderr, "producer_bench: %s holds %lld pictures of %lld\n", file.c_str(),
                   pictures, frames);
  } else {
    std::system((cd + "ffmpeg -nostdin -hide_banner -i " + file + compare).c_str());
  }
  std::string out;
  FILE* log = std::fopen((folder + "/quality.log").c_str(), "rb");
  char line[512];
  while (log && std::fgets(line, sizeof line, log)) out += line;
  if (log) std::fclose(log);
  auto value = [&](const char* key) {
    const size_t at = out.rfind(key);
    return at == std::string::npos ? 0.0 : std::atof(out.c_str() + at + std::strlen(key));
  };
  return {value("average:"), value("All:"), static_cast<double>(FileSize(folder + "/" + file))};
}

// The table of medians; `peer` is the run the ratios are to.
void Report(const std::vector<Run>& runs, size_t peer, long long frames, const std::string& cd,
            const std::string& folder) {
  const double budget = kTotalBitrate * (static_cast<double>(frames) / kFps) / 8;
  const double peer_wall = Median(runs[peer].wall), peer_cpu = Median(runs[peer].cpu);
  std::printf("\n%-26s %8s %8s %10s %10s %8s %8s %8s\n", "median", "wall s", "cpu s", "wall/dflt",
              "cpu/dflt", "size %", "PSNR dB", "SSIM");
  for (const Run& run : runs) {
    const Measured m = Quality(cd, folder, run.output, frames);
    std::printf("%-26s %8.2f %8.2f %10.3f %10.3f %8.2f %8.2f %8.4f\n", run.name.c_str(),
                Median(run.wall), Median(run.cpu), Median(run.wall) / peer_wall,
                Median(run.cpu) / peer_cpu, 100.0 * m.bytes / budget, m.psnr, m.ssim);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool levels = argc > 1 && std::strcmp(argv[1], "--levels") == 0;
  if (levels) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: producer_bench [--levels] <VIDEO_TS folder> [rounds] [vts] [pgc]\n");
    return 2;
  }
  char* real = realpath(argv[1], nullptr);
  if (!real) {
    std::fprintf(stderr, "producer_bench: no folder %s\n", argv[1]);
    return 1;
  }
  const std::string video_ts = real;
  std::free(real);
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  const int vts = argc > 3 ? std::atoi(argv[3]) : 1;
  const int pgc = argc > 4 ? std::atoi(argv[4]) : 1;

  const std::string folder = MakeWorkFolder();
  if (folder.empty() || !CutOutTitle(video_ts, vts, pgc, folder) || !WriteScript(folder)) return 1;
  wizard::EncoderJobFileValues job;
  bool written = WriteJob(folder, "all", kDefaultComplexity, &job) &&
                 WriteJob(folder, "one", kDefaultComplexity, &job);
  for (int level : Levels())
    written = written && WriteJob(folder, "level" + std::to_string(level), level, &job);
  if (!written) return 1;
  const std::string cd = "cd " + Quote(folder) + " && ";
  const long long frames = MakeReference(cd);
  if (frames <= 0) return 1;

  std::printf(
      "title: %dx%d from 720x576, %lld frames (%.1f s), two passes, %d bit/s in all, "
      "%d rounds, %u processors\n",
      kWidth, kHeight, frames, static_cast<double>(frames) / kFps, kTotalBitrate, rounds,
      std::thread::hardware_concurrency());
  std::string vobs;
  for (const std::string& path : VobPaths(video_ts, vts)) vobs += (vobs.empty() ? "" : "|") + path;
  std::vector<Run> runs = levels ? LevelRuns(cd, vobs) : Runs(cd, vobs, job);
  if (!RunRounds(rounds, &runs)) return 1;
  Report(runs, levels ? 0 : 2, frames, cd, folder);
  if (levels) {
    for (int level : Levels()) {
      std::string options;
      for (const auto& [key, value] : producer::VideoCodecOptions(level))
        options += " " + key + "=" + value;
      std::printf("complexity %3d:%s\n", level,
                  options.empty() ? " (libavcodec's defaults)" : options.c_str());
    }
  } else {
    std::printf("one worker / all workers: %.2f (wall), %.2f (cpu)\n",
                Median(runs[1].wall) / Median(runs[0].wall),
                Median(runs[1].cpu) / Median(runs[0].cpu));
  }
  if (!getenv("KV_BENCH_KEEP")) std::system(("rm -rf " + Quote(folder)).c_str());
  return 0;
}
