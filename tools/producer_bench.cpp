// The encoder (helix/producer) against the ffmpeg command line on the same
// frames, in one run:
//
//   producer_bench <VIDEO_TS folder> [pairs] [vts] [pgc]
//
// The title is indexed and cut out with tessmar into a temporary folder,
// and the frameserver is installed there with a private registry store.
// The volume script serves the 720x576 title cropped to its picture and
// resized to the size the settings propose for it (720x292), with a tone as
// its sound; its frames and sound are written beforehand into a YUV4MPEG2
// and a WAV file by avs2y4m. Then, alternately, the encoder encodes the
// script from its encoder job file (two passes, RealVideo 2.0 and AAC), and
// ffmpeg encodes the YUV4MPEG2 and WAV files with the same codecs, passes,
// bit rates and codec options. Reported: wall time and processor time of
// each run, the medians, frames per second and real-time factor, the ratio
// of the encoder to ffmpeg, and the sizes against the budget.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/frameserver_install.h"
#include "outside/producer/codecs.h"
#include "platform/folders.h"
#include "platform/registry_store.h"
#include "tessmar/include/tessmar.h"
#include "wizard/encoder_job_file.h"

namespace {

constexpr int kWidth = 720, kHeight = 292, kFps = 25;
constexpr int32_t kTotalBitrate = 2077255;  // the settings' total for this title
constexpr int kAudioKbps = 320;             // "raac" flavour 11, two channels

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

std::string VobList(const std::string& video_ts, int vts) {
  std::string list;
  for (int part = 1; part <= 9; ++part) {
    char name[64];
    std::snprintf(name, sizeof name, "/VTS_%02d_%d.VOB", vts, part);
    const std::string path = video_ts + name;
    if (access(path.c_str(), R_OK) != 0) break;
    list += (list.empty() ? "" : "|") + path;
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
  if (Tessmar(VobList(video_ts, vts).c_str(), (folder + "/vts").c_str(), 0, 0, &status) != 0) {
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
               "force_film=false)\r\nvideo = LanczosResize(video, %d, %d, 0, 72, 720, 416)\r\n\r\n"
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
  job->CodecFlavour = 11;
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

// The same two passes by ffmpeg, with the codec options of each pass.
std::string PeerCommand(const std::string& cd, const wizard::EncoderJobFileValues& job) {
  const long long video_bitrate = kTotalBitrate - kAudioKbps * 1024;
  const std::string ffmpeg = "ffmpeg -nostdin -v error -y ";
  const std::string rate =
      " -c:v rv20 -b:v " + std::to_string(video_bitrate) + " -passlogfile peer";
  return cd + ffmpeg + "-i in.y4m" + rate + " -pass 1" + FfmpegOptions(job.firstPassComplexity) +
         " -an -f null - && " + ffmpeg + "-i in.y4m -i in.wav" + rate + " -pass 2" +
         FfmpegOptions(job.encoderComplexity) + " -c:a aac -b:a " +
         std::to_string(kAudioKbps * 1024) + " -f rm peer.rm";
}

struct PairTimes {
  std::vector<double> our_wall, peer_wall, our_cpu, peer_cpu, ratios;
};

bool RunPairs(const std::string& ours, const std::string& peer, int pairs, PairTimes* t) {
  for (int pair = 0; pair < pairs; ++pair) {
    Timing a, b;
    // Alternate which goes first, so that neither always meets a warm cache.
    const bool ours_first = pair % 2 == 0;
    if (ours_first ? !Timed(ours, &a) : !Timed(peer, &b)) return false;
    if (ours_first ? !Timed(peer, &b) : !Timed(ours, &a)) return false;
    t->our_wall.push_back(a.wall);
    t->peer_wall.push_back(b.wall);
    t->our_cpu.push_back(a.cpu);
    t->peer_cpu.push_back(b.cpu);
    t->ratios.push_back(a.wall / b.wall);
    std::printf(
        "pair %d: producer %.2f s wall, %.2f s cpu; ffmpeg %.2f s wall, %.2f s cpu; "
        "ratio %.3f\n",
        pair + 1, a.wall, a.cpu, b.wall, b.cpu, a.wall / b.wall);
  }
  return true;
}

void Report(const PairTimes& t, long long frames, double seconds, const std::string& folder) {
  const double ow = Median(t.our_wall), pw = Median(t.peer_wall);
  std::printf("producer: median %.2f s wall (%.1f fps, %.2fx real time), %.2f s cpu\n", ow,
              frames / ow, seconds / ow, Median(t.our_cpu));
  std::printf("ffmpeg:   median %.2f s wall (%.1f fps, %.2fx real time), %.2f s cpu\n", pw,
              frames / pw, seconds / pw, Median(t.peer_cpu));
  std::printf("producer / ffmpeg, median of pairs: %.3f (wall)\n", Median(t.ratios));
  const double budget = kTotalBitrate * seconds / 8;
  std::printf("sizes: producer %lld bytes (%.2f %% of the budget), ffmpeg %lld bytes (%.2f %%)\n",
              FileSize(folder + "/ours.rmvb"), 100.0 * FileSize(folder + "/ours.rmvb") / budget,
              FileSize(folder + "/peer.rm"), 100.0 * FileSize(folder + "/peer.rm") / budget);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: producer_bench <VIDEO_TS folder> [pairs] [vts] [pgc]\n");
    return 2;
  }
  char* real = realpath(argv[1], nullptr);
  if (!real) {
    std::fprintf(stderr, "producer_bench: no folder %s\n", argv[1]);
    return 1;
  }
  const std::string video_ts = real;
  std::free(real);
  const int pairs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
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

  const std::string ours = cd + Quote(std::string(KV_PROGRAM_FOLDER) + "/helix/producer") +
                           " -j \"out01.rpjf\" -daw -lc \"e,i\" -pid pid > producer.log";
  std::printf(
      "title: %dx%d from 720x576, %lld frames (%.1f s), two passes, %d bit/s in all, "
      "%d pairs\n",
      kWidth, kHeight, frames, seconds, kTotalBitrate, pairs);
  PairTimes times;
  if (!RunPairs(ours, PeerCommand(cd, job), pairs, &times)) return 1;
  Report(times, frames, seconds, folder);
  if (!getenv("KV_BENCH_KEEP")) std::system(("rm -rf " + Quote(folder)).c_str());
  return 0;
}
