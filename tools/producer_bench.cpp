// The encoder (helix/producer) against the ffmpeg command line on the same
// frames, in one run:
//
//   producer_bench <VIDEO_TS folder> [rounds] [vts] [pgc]
//
// The title (a 720x576 one of a minute or more: pal_wide_long of the sample
// discs) is indexed and cut out with tessmar into a temporary folder, and the
// frameserver is installed there with a private registry store. The volume
// script serves the whole picture resized to 544x416, with a tone as its
// sound; its frames and sound are written beforehand into a YUV4MPEG2 and a
// WAV file by avs2y4m. Each round runs four encodings of the same two-pass
// job (1800 Kbps in all, AAC at 128 Kbps), in an order that turns by one
// every round: the encoder with a worker per processor, the encoder with
// its worker count forced to 1, ffmpeg's two-pass RealVideo 2.0 with its
// default options, and ffmpeg with the codec options the encoder's
// complexities use. Reported: wall and processor time of each run and their
// medians, the ratios to ffmpeg's default two-pass and of one worker to all,
// the sizes against the budget, and PSNR and SSIM of each of our files
// against the frames it was made from (ffmpeg's own PSNR for its runs, which
// keep no file: see PeerCommand).
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
#include "wizard/encoder_job_file.h"

namespace {

constexpr int kWidth = 544, kHeight = 416, kFps = 25;
constexpr int32_t kTotalBitrate = 1800 * 1024;
constexpr int kAudioKbps = 128;  // "raac" flavour 7, two channels
constexpr int kAudioFlavour = 7;

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

// The volume's script and encoder job file, as a job of two passes.
bool WriteJob(const std::string& folder, wizard::EncoderJobFileValues* job) {
  FILE* f = std::fopen((folder + "/out01.avs").c_str(), "wb");
  std::fprintf(f,
               "LoadPlugin(\"qmvideo.dll\")\r\n\r\nvideo = qmVideoSource(\"title.qmvi\", idct=4, "
               "force_film=false)\r\nvideo = LanczosResize(video, %d, %d)\r\n\r\n"
               "audio = BlankClip(video, audio_rate=48000, channels=2, tone=440)\r\n\r\n"
               "AudioDub(video, audio)\r\n",
               kWidth, kHeight);
  std::fclose(f);
  job->ScriptName = "out01.avs";
  job->OutputPath = "ours.rmvb";
  job->TwoPass = true;
  job->AverageBitrate = kTotalBitrate;
  job->MaximumBitrate = 2 * kTotalBitrate;
  job->encoderComplexity = 90;
  job->firstPassComplexity = 50;
  job->FrameRate = kFps;
  job->HasAudio = true;
  job->CodecName = "raac";
  job->CodecFlavour = kAudioFlavour;
  return wizard::WriteEncoderJobFile(folder + "/out01.rpjf", *job);
}

// The peer's input, made beforehand from the same script; its frame count,
// 0 on failure.
long long MakePeerInput(const std::string& cd) {
  Timing ignored;
  if (!Timed(cd + Quote(KV_AVS2Y4M) + " --wav in.wav out01.avs > in.y4m", &ignored)) return 0;
  std::string out;
  FILE* p = popen((cd + Quote(KV_AVS2Y4M) + " --info out01.avs").c_str(), "r");
  char line[256];
  while (p && std::fgets(line, sizeof line, p)) out += line;
  if (p) pclose(p);
  const size_t at = out.find("frames ");
  return at == std::string::npos ? 0 : std::atoll(out.c_str() + at + 7);
}

// ffmpeg's two passes at the video bit rate, with `first` and `second` as
// the passes' codec options. No container of ffmpeg's takes its RealVideo
// 2.0 at every size and reads it back (its RealMedia muxer refuses frames
// over 64 KB, which its default options make): the second pass writes
// nothing and reports the picture's PSNR and the coded size in `log`.
std::string PeerCommand(const std::string& cd, const std::string& first, const std::string& second,
                        const std::string& log) {
  const long long video_bitrate = kTotalBitrate - kAudioKbps * 1024;
  const std::string ffmpeg = "ffmpeg -nostdin -v error -y ";
  const std::string rate =
      " -c:v rv20 -b:v " + std::to_string(video_bitrate) + " -passlogfile " + log;
  return cd + ffmpeg + "-i in.y4m" + rate + " -pass 1" + first + " -an -f null - && " +
         "ffmpeg -nostdin -v info -y -i in.y4m -i in.wav" + rate + " -pass 2" + second +
         " -psnr -c:a aac -b:a " + std::to_string(kAudioKbps * 1024) + " -f null - 2> " + log;
}

struct Run {
  const char* name;
  std::string command;
  std::string output;
  std::vector<double> wall, cpu;
};

// The four runs of a round: the encoder with all workers and with one,
// ffmpeg's default two passes and ffmpeg with the same codec options.
std::vector<Run> Runs(const std::string& cd, const wizard::EncoderJobFileValues& job) {
  const std::string producer = cd + Quote(std::string(KV_PROGRAM_FOLDER) + "/helix/producer") +
                               " -j \"out01.rpjf\" -daw -lc \"e,i\" -pid pid > producer.log";
  return {
      {"producer, all workers",
       "unset KESTREVANE_ENCODER_WORKERS; " + producer + " && mv ours.rmvb all.rmvb",
       "all.rmvb",
       {},
       {}},
      {"producer, 1 worker",
       "export KESTREVANE_ENCODER_WORKERS=1; " + producer + " && mv ours.rmvb one.rmvb",
       "one.rmvb",
       {},
       {}},
      {"ffmpeg default two-pass", PeerCommand(cd, "", "", "default.log"), "default.log", {}, {}},
      {"ffmpeg, same options",
       PeerCommand(cd, FfmpegOptions(job.firstPassComplexity), FfmpegOptions(job.encoderComplexity),
                   "same.log"),
       "same.log",
       {},
       {}},
  };
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
      std::printf("round %d: %-24s %7.2f s wall, %7.2f s cpu\n", round + 1, run.name, t.wall,
                  t.cpu);
      std::fflush(stdout);
    }
  }
  return true;
}

// PSNR (average, dB) and SSIM (all planes) of `file` against the frames it
// was made from, and its size in bytes. A peer's log gives the PSNR of all
// planes and the coded bytes; no SSIM (0).
struct Measured {
  double psnr = 0, ssim = 0, bytes = 0;
};
Measured Quality(const std::string& cd, const std::string& folder, const std::string& file) {
  const bool log = file.size() > 4 && file.compare(file.size() - 4, 4, ".log") == 0;
  std::string out;
  FILE* p =
      popen(log ? ("tr '\\r' '\\n' < " + Quote(folder + "/" + file)).c_str()
                : (cd + "ffmpeg -nostdin -hide_banner -i " + file +
                   " -i in.y4m -lavfi "
                   "\"[0:v]split[a][b];[1:v]split[c][d];[a][c]psnr;[b][d]ssim\" -f null - 2>&1")
                      .c_str(),
            "r");
  char line[512];
  while (p && std::fgets(line, sizeof line, p)) out += line;
  if (p) pclose(p);
  auto value = [&](const char* key) {
    const size_t at = out.rfind(key);
    return at == std::string::npos ? 0.0 : std::atof(out.c_str() + at + std::strlen(key));
  };
  if (log) return {value(" *:"), 0, 1024 * (value("video:") + value("audio:"))};
  return {value("average:"), value("All:"), static_cast<double>(FileSize(folder + "/" + file))};
}

void Report(const std::vector<Run>& runs, double seconds, const std::string& cd,
            const std::string& folder) {
  const double budget = kTotalBitrate * seconds / 8;
  const double peer_wall = Median(runs[2].wall), peer_cpu = Median(runs[2].cpu);
  std::printf("\n%-24s %8s %8s %10s %10s %8s %8s %8s\n", "median", "wall s", "cpu s", "wall/dflt",
              "cpu/dflt", "size %", "PSNR dB", "SSIM");
  for (const Run& run : runs) {
    const Measured m = Quality(cd, folder, run.output);
    std::printf("%-24s %8.2f %8.2f %10.3f %10.3f %8.2f %8.2f %8.4f\n", run.name, Median(run.wall),
                Median(run.cpu), Median(run.wall) / peer_wall, Median(run.cpu) / peer_cpu,
                100.0 * m.bytes / budget, m.psnr, m.ssim);
  }
  std::printf("one worker / all workers: %.2f (wall)\n",
              Median(runs[1].wall) / Median(runs[0].wall));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: producer_bench <VIDEO_TS folder> [rounds] [vts] [pgc]\n");
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
  if (folder.empty() || !CutOutTitle(video_ts, vts, pgc, folder)) return 1;
  wizard::EncoderJobFileValues job;
  if (!WriteJob(folder, &job)) return 1;
  const std::string cd = "cd " + Quote(folder) + " && ";
  const long long frames = MakePeerInput(cd);
  if (frames <= 0) return 1;
  const double seconds = static_cast<double>(frames) / kFps;

  std::printf(
      "title: %dx%d from 720x576, %lld frames (%.1f s), two passes, %d bit/s in all, "
      "%d rounds, %u processors\n",
      kWidth, kHeight, frames, seconds, kTotalBitrate, rounds, std::thread::hardware_concurrency());
  std::vector<Run> runs = Runs(cd, job);
  if (!RunRounds(rounds, &runs)) return 1;
  Report(runs, seconds, cd, folder);
  if (!getenv("KV_BENCH_KEEP")) std::system(("rm -rf " + Quote(folder)).c_str());
  return 0;
}
