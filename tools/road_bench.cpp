// The whole road of one job without windows, against the ffmpeg command
// line doing the equivalent transcode of the same title, in one run:
//
//   road_bench <VIDEO_TS folder> [rounds] [vts] [pgc] [volumes] [MB per volume]
//
// Ours is the program's own code, stage by stage, as the wizard and the
// queue window run it: the DVD analysis (AnalysisWorker: folders, checksum,
// index runs, IFO files), the title's preparation (PrepareTitle: cut, frame
// count, borders) with the settings the configuration page proposes, set to
// a fixed size of `volumes` volumes; the job writer's Finish (scripts,
// encoder job files, plug-in copies, JobFile, queue entry); and the queue's
// runner encoding each volume with the encoder of the program folder as a
// child process (two passes) until the work folder is removed; once with a
// worker per processor and once with the encoder's worker count forced to 1.
// The peer is ffmpeg reading the title's VOB files with the same crop,
// filters and Lanczos resize to the same output size, RealVideo 2.0 at the
// same video bit rate in two passes and AAC at the same bit rate and
// channels, into one file: with its default codec options, and with the
// options of the job's complexities. Each round runs the four in an order
// that turns by one every round; reported are the stages, the wall and
// processor time of each and their ratios to ffmpeg's default two-pass.
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/frameserver_install.h"
#include "outside/producer/codecs.h"
#include "platform/folders.h"
#include "platform/registry_access.h"
#include "platform/registry_store.h"
#include "queue/encoder_controller.h"
#include "queue/job_runner.h"
#include "queue/runner_clock.h"
#include "tools/quiet_analysis.h"
#include "wizard/encoder_job_file.h"
#include "wizard/job_writer.h"
#include "wizard/title_preparation.h"
#include "wizard/wizard_state.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of this process and its children together.
double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// When each volume started and ended, and the end of the run.
class VolumeTimes : public queue::RunnerObserver {
 public:
  void VolumeStarted(int, int) override { starts.push_back(Now()); }
  void VolumeFinished(size_t, int, int) override { ends.push_back(Now()); }
  void JobEnded(size_t, const queue::JobOutcome& outcome) override {
    completed = outcome.end == queue::JobEnd::Completed;
    if (!completed) std::fprintf(stderr, "runner: %s\n", outcome.message.c_str());
  }
  void RunEnded() override { QCoreApplication::quit(); }
  std::vector<double> starts, ends;
  bool completed = false;
};

struct Stages {
  double analysis = 0, preparation = 0, writing = 0;
  std::vector<double> volumes;
  double wall = 0, cpu = 0;
};

struct Road {
  std::string video_ts, folder, program_folder;
  int vts = 1, pgc = 1, volumes = 2, volume_mb = 8;
  platform::RegistryAccess* registry = nullptr;
  wizard::JobSettings settings;  // as the last run wrote them
  std::string crop;              // the peer's crop filter, empty for none
};

// One whole road; false when a stage fails.
bool RunOurs(Road& road, int run, Stages* stages) {
  const double start = Now(), cpu_start = CpuSeconds();
  wizard::WizardState state;
  state.JobName = "Road" + std::to_string(run);
  state.JobFolder = road.folder + "/jobs/" + state.JobName;
  state.JobDataFolder = state.JobFolder + "/.kvnj/";
  state.DvdFolder = road.video_ts + "/";
  state.SourcePath = road.video_ts;
  state.PreviewScriptPath = state.JobDataFolder + "preview.avs";

  double t = Now();
  if (!kv_tools::AnalyseQuietly(state)) return false;
  stages->analysis = Now() - t;

  t = Now();
  state.SelVts = road.vts;
  state.SelPgc = road.pgc;
  state.SelAngle = 0;
  const wizard::PreparationResult prepared =
      wizard::PrepareTitle(wizard::PreparationInputFor(state));
  if (!prepared.Ok) {
    std::fprintf(stderr, "preparation: %s\n", prepared.Error.c_str());
    return false;
  }
  wizard::ApplyPreparation(state, state.Selection(), prepared);
  wizard::JobSettings& s = state.Settings;
  s.InitialiseForTitle(wizard::FactsForTitle(state.SelectedTitleSet(), state.SelPgc));
  // The configuration page's fixed size: the count, then the size typed.
  s.SplitVolumes = true;
  s.VolumeCount = road.volumes;
  s.UpdateMinimumVolumeSize();
  s.VolumePreset = 0;
  s.VolumeSizeMB = std::max(road.volume_mb, s.MinimumVolumeSizeMB);
  s.SelectEncodeMode(wizard::EncodeModeKind::FixedSize);
  s.RecomputeRates(true, false);
  stages->preparation = Now() - t;

  t = Now();
  queue::JobRunner runner(*road.registry, queue::MakeEncoderController(), queue::MakeRunnerClock(),
                          road.program_folder + "/helix/producer");
  if (!runner.LoadList()) return false;
  const wizard::FinishResult finished = wizard::FinishJob(
      state, road.program_folder, wizard::JobDateText(),
      [&runner](const std::string& folder) { return runner.AddJobFromFolder(folder); });
  if (!finished.added) {
    std::fprintf(stderr, "finish: %s\n", finished.message.c_str());
    return false;
  }
  stages->writing = Now() - t;
  road.settings = s;

  VolumeTimes times;
  runner.SetObserver(&times);
  if (!runner.EncodeJob(runner.Jobs().Jobs().size() - 1)) return false;
  QCoreApplication::exec();
  runner.SetObserver(nullptr);
  // The runner left the removed work folder as the current one.
  if (chdir(road.folder.c_str()) != 0) return false;
  if (!times.completed || times.ends.size() != times.starts.size()) return false;
  stages->volumes.clear();
  for (size_t k = 0; k < times.ends.size(); ++k)
    stages->volumes.push_back(times.ends[k] - times.starts[k]);
  runner.RemoveJob(runner.Jobs().Jobs().size() - 1);
  stages->wall = Now() - start;
  stages->cpu = CpuSeconds() - cpu_start;
  return true;
}

std::string VobConcat(const std::string& video_ts, int vts) {
  std::string list;
  for (int part = 1; part <= 9; ++part) {
    char name[64];
    std::snprintf(name, sizeof name, "/VTS_%02d_%d.VOB", vts, part);
    if (access((video_ts + name).c_str(), R_OK) != 0) break;
    list += (list.empty() ? "" : "|") + video_ts + name;
  }
  return "concat:" + list;
}

std::string CodecOptions(int complexity) {
  std::string args;
  for (const auto& [key, value] : producer::VideoCodecOptions(complexity))
    args += " -" + key + " " + value;
  return args;
}

// The ffmpeg command lines of the same transcode: the title's VOB files,
// the same crop, filters and size, two passes at the same rates; with the
// job's codec options when `same_options`, else ffmpeg's defaults. The file
// is NUT: ffmpeg's RealMedia writer refuses frames over 64 KB.
std::string PeerCommand(const Road& road, bool same_options) {
  const wizard::JobSettings& s = road.settings;
  const wizard::EncoderJobFileValues job = wizard::EncoderJobFileValuesOf(s, "out01.avs", "x");
  const wizard::AudioCodecEntry* audio = s.ChosenAudioCodecRow();
  const int audio_bps = s.HasAudio && audio ? audio->Kbps * 1024 : 0;
  std::string filters;
  if (s.Deinterlace) filters += "yadif,";
  if (s.Ivtc) filters += "fieldmatch,decimate,";
  if (s.CropMode != wizard::CropModeKind::Disabled) {
    const wizard::PictureRect& r = s.CropRect;
    filters += "crop=" + std::to_string(r.Width) + ":" + std::to_string(r.Height) + ":" +
               std::to_string(r.Left) + ":" + std::to_string(r.Top) + ",";
  }
  filters += "scale=" + std::to_string(s.OutputWidth) + ":" + std::to_string(s.OutputHeight) +
             ":flags=lanczos";
  const std::string input = "ffmpeg -nostdin -v error -y -i " +
                            Quote(VobConcat(road.video_ts, road.vts)) + " -vf " + filters + " -r " +
                            std::to_string(s.FrameRate) + " -c:v rv20 -b:v " +
                            std::to_string(job.AverageBitrate - audio_bps) + " -passlogfile peer";
  const std::string cd = "cd " + Quote(road.folder) + " && ";
  std::string audio_args = " -an";
  if (audio_bps > 0)
    audio_args = " -map 0:v:0 -map 0:a:0 -c:a aac -b:a " + std::to_string(audio_bps) + " -ac " +
                 std::to_string(s.ChannelMode == wizard::ChannelModeKind::Mono ? 1 : 2);
  const std::string first = same_options ? CodecOptions(job.firstPassComplexity) : "";
  const std::string second = same_options ? CodecOptions(job.encoderComplexity) : "";
  return cd + input + " -pass 1" + first + " -an -f null - && " + input + " -pass 2" + second +
         audio_args + " -tag:v RV20 -f nut peer.nut";
}

bool RunPeer(const std::string& command, Stages* stages) {
  const double start = Now(), cpu_start = CpuSeconds();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "road_bench: ffmpeg failed: %s\n", command.c_str());
    return false;
  }
  stages->wall = Now() - start;
  stages->cpu = CpuSeconds() - cpu_start;
  return true;
}

enum class Side { Ours, OursOneWorker, PeerDefault, PeerSameOptions };

struct Turn {
  const char* name;
  Side side;
  std::vector<double> wall, cpu;
};

// One turn; the encoder's worker count is forced to 1 for its turn only.
bool RunTurn(Road& road, int run, Turn& turn) {
  Stages stages;
  bool ok = false;
  if (turn.side == Side::Ours || turn.side == Side::OursOneWorker) {
    if (turn.side == Side::OursOneWorker) setenv("KESTREVANE_ENCODER_WORKERS", "1", 1);
    ok = RunOurs(road, run, &stages);
    unsetenv("KESTREVANE_ENCODER_WORKERS");
    if (!ok) std::fprintf(stderr, "road_bench: the road failed\n");
    std::string volumes;
    for (double v : stages.volumes) volumes += (volumes.empty() ? "" : " + ") + std::to_string(v);
    if (ok)
      std::printf(
          "  %-24s %7.2f s wall, %7.2f s cpu (analysis %.2f, preparation %.2f, writing %.3f, "
          "volumes %s)\n",
          turn.name, stages.wall, stages.cpu, stages.analysis, stages.preparation, stages.writing,
          volumes.c_str());
  } else {
    ok = RunPeer(PeerCommand(road, turn.side == Side::PeerSameOptions), &stages);
    if (ok) std::printf("  %-24s %7.2f s wall, %7.2f s cpu\n", turn.name, stages.wall, stages.cpu);
  }
  std::fflush(stdout);
  turn.wall.push_back(stages.wall);
  turn.cpu.push_back(stages.cpu);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: road_bench <VIDEO_TS folder> [rounds] [vts] [pgc] [volumes] "
                 "[MB per volume]\n");
    return 2;
  }
  char* real = realpath(argv[1], nullptr);
  if (!real) {
    std::fprintf(stderr, "road_bench: no folder %s\n", argv[1]);
    return 1;
  }
  Road road;
  road.video_ts = real;
  std::free(real);
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  road.vts = argc > 3 ? std::atoi(argv[3]) : 1;
  road.pgc = argc > 4 ? std::atoi(argv[4]) : 1;
  road.volumes = argc > 5 ? std::max(1, std::atoi(argv[5])) : 2;
  road.volume_mb = argc > 6 ? std::max(1, std::atoi(argv[6])) : 8;
  road.program_folder = KV_PROGRAM_FOLDER;

  char folder_template[] = "/tmp/kv-road-bench-XXXXXX";
  if (!mkdtemp(folder_template)) return 1;
  road.folder = folder_template;
  // A registry store, system folder and runtime folder of the run's own.
  setenv("XDG_DATA_HOME", (road.folder + "/data").c_str(), 1);
  setenv("KESTREVANE_REGISTRY", (road.folder + "/registry.db").c_str(), 1);
  QCoreApplication app(argc, argv);
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  if (!store) return 1;
  app::FrameserverInstallation installation(*store, platform::SystemFolder());
  if (!installation.InstallFrameserver(road.program_folder)) {
    std::fprintf(stderr, "road_bench: cannot install the frameserver\n");
    return 1;
  }
  platform::RegistryAccess registry(*store, platform::RegistryRoot::LocalMachine);
  road.registry = &registry;
  if (chdir(road.folder.c_str()) != 0) return 1;

  // The first turn is ours: the peer needs the settings of a run of ours.
  std::vector<Turn> turns = {{"ours, all workers", Side::Ours, {}, {}},
                             {"ours, 1 worker", Side::OursOneWorker, {}, {}},
                             {"ffmpeg default two-pass", Side::PeerDefault, {}, {}},
                             {"ffmpeg, same options", Side::PeerSameOptions, {}, {}}};
  int runs = 0;
  for (int round = 0; round < rounds; ++round) {
    std::printf("round %d\n", round + 1);
    for (size_t k = 0; k < turns.size(); ++k)
      if (!RunTurn(road, runs++, turns[(k + static_cast<size_t>(round)) % turns.size()])) return 1;
  }
  const wizard::JobSettings& s = road.settings;
  std::printf(
      "title: VTS %d PGC %d, %d frames at %.3f fps (%.1f s) to %dx%d, %d volume(s) of %d "
      "MB, %.0f bit/s in all, complexity %d (analysis %d)\n",
      road.vts, road.pgc, s.FrameCount, static_cast<double>(s.FrameRate), s.Duration, s.OutputWidth,
      s.OutputHeight, wizard::VolumeCountOf(s), s.VolumeSizeMB, s.TotalBitrate, s.encoderComplexity,
      s.firstPassComplexity);
  std::printf("peer: %s\n", PeerCommand(road, false).c_str());
  const Turn& peer = turns[2];
  std::printf("\n%-26s %8s %8s %10s %10s\n", "median", "wall s", "cpu s", "wall/dflt", "cpu/dflt");
  for (const Turn& turn : turns)
    std::printf("%-26s %8.2f %8.2f %10.3f %10.3f\n", turn.name, Median(turn.wall), Median(turn.cpu),
                Median(turn.wall) / Median(peer.wall), Median(turn.cpu) / Median(peer.cpu));
  std::printf("one worker / all workers: %.2f (wall), %.2f (cpu)\n",
              Median(turns[1].wall) / Median(turns[0].wall),
              Median(turns[1].cpu) / Median(turns[0].cpu));
  if (!getenv("KV_BENCH_KEEP")) std::system(("rm -rf " + Quote(road.folder)).c_str());
  return 0;
}
