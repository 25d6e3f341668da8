// The wizard's DVD analysis against bare index runs over the same files, and
// the import of a pending job's analysis against a plain cp of its files.
//
//   analysis_bench <sample VIDEO_TS> <work-folder> [GiB of the big title set] [pairs]
//
// Builds a synthetic disc from the sample's navigation and VOB files: one
// title set of GiB gibibytes of sparse VOB files (the sample's VOB written
// every 256 MiB, holes between) and six small title sets (copies of the
// sample's first VOB). Then, in alternating order, `pairs` times:
//   - ours: the analysis through the real wizard window (offscreen) and its
//     worker thread, from Next on page 1 until the analysis has ended, while
//     a 5 ms timer on the user-interface thread records its longest stall;
//   - peer: one bare index run per title set over the same files, each
//     waited for, as the worker runs them.
// Then the import of that analysis by a second job against
//   cp <the files the analysis log names> <folder>
// alternating as well. Prints the medians in wall time (and, for the analysis,
// in processor time of the whole process, which a loaded machine disturbs less)
// and their ratios.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/application_wizard_host.h"
#include "dvd/disc_checksum.h"
#include "platform/file_system.h"
#include "platform/window_dialogs.h"
#include "queue/folder_tree.h"
#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"
#include "wizard/analysis_files.h"
#include "wizard/analysis_worker.h"
#include "wizard/new_form.h"

namespace {

namespace fs = std::filesystem;
constexpr int64_t kGiB = int64_t{1} << 30;
constexpr int64_t kSampleEvery = int64_t{256} << 20;
constexpr int kSmallTitleSets = 6;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of the whole process (every thread, the library's too).
double ProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall and processor seconds of one measured run.
struct Run {
  double wall = 0;
  double cpu = 0;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct TitleSet {
  int n;
  std::vector<std::string> files;
};

// The synthetic disc; returns its title sets.
std::vector<TitleSet> MakeDisc(const std::string& sample, const std::string& video_ts,
                               int64_t gib) {
  fs::create_directories(video_ts);
  const std::string vob = Read(sample + "/VTS_01_1.VOB");
  const std::string ifo = Read(sample + "/VTS_01_0.IFO");
  Write(video_ts + "/VIDEO_TS.IFO", Read(sample + "/VIDEO_TS.IFO"));
  std::vector<TitleSet> sets;
  TitleSet big{1, {}};
  for (int64_t k = 1; k <= gib; ++k) {
    const std::string path = video_ts + "/" + "VTS_01_" + std::to_string(k) + ".VOB";
    big.files.push_back(path);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && st.st_size == kGiB) continue;  // kept from a run before
    std::FILE* out = std::fopen(path.c_str(), "wb");
    for (int64_t at = 0; at < kGiB; at += kSampleEvery) {
      std::fseek(out, static_cast<long>(at), SEEK_SET);
      std::fwrite(vob.data(), 1, vob.size(), out);
    }
    std::fclose(out);
    if (::truncate(path.c_str(), kGiB) != 0) std::perror(path.c_str());
  }
  Write(video_ts + "/VTS_01_0.IFO", ifo);
  sets.push_back(big);
  for (int n = 2; n < 2 + kSmallTitleSets; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/VTS_%.2d_", n);
    Write(video_ts + name + "0.IFO", ifo);
    if (!fs::exists(video_ts + name + "1.VOB")) Write(video_ts + name + "1.VOB", vob);
    sets.push_back({n, {video_ts + name + "1.VOB"}});
  }
  return sets;
}

// The peer: the library over every title set in turn, as bare as it runs.
Run BareRuns(const std::vector<TitleSet>& sets, const std::string& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  const double start = Now();
  const double cpu_start = ProcessorSeconds();
  for (const TitleSet& set : sets) {
    const tessmar::VobList list(set.files);
    TessmarStatus status{};
    char base[32];
    std::snprintf(base, sizeof base, "/vts%.2d", set.n);
    if (Tessmar(list.Files(), (out + base).c_str(), 1, 1, &status) != 0) {
      std::fprintf(stderr, "Tessmar failed on title set %d\n", set.n);
      std::exit(1);
    }
    while (std::atomic_ref<uint8_t>(status.running).load())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return {Now() - start, ProcessorSeconds() - cpu_start};
}

struct Ours {
  double seconds = 0;
  double cpu_seconds = 0;
  double worst_stall_ms = 0;
};

// Ours: the analysis through the wizard window.
Ours WizardAnalysis(const std::string& disc, const std::string& jobs) {
  fs::remove_all(jobs);
  fs::create_directories(jobs);
  auto* wizard = new wizard::TKVNNewForm(app::MakeWizardHost(nullptr));
  wizard->show();
  wizard->findChild<QLineEdit*>("NameEdit")->setText("Bench");
  wizard->findChild<QLineEdit*>("LocEdit")->setText(QString::fromStdString(jobs));
  wizard->findChild<QLineEdit*>("SrcEdit")->setText(QString::fromStdString(disc));

  Ours ours;
  double last_tick = Now();
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const double now = Now();
    ours.worst_stall_ms = std::max(ours.worst_stall_ms, (now - last_tick) * 1000.0 - 5.0);
    last_tick = now;
  });
  QTimer done;
  QObject::connect(&done, &QTimer::timeout, [&] {
    if (!wizard->State().AnalysisRunning) QCoreApplication::exit(0);
  });
  const double start = Now();
  const double cpu_start = ProcessorSeconds();
  wizard->findChild<QPushButton*>("NextButton")->click();
  last_tick = Now();
  probe.start(5);
  done.start(1);
  QApplication::exec();
  ours.seconds = Now() - start;
  ours.cpu_seconds = ProcessorSeconds() - cpu_start;
  probe.stop();
  if (!wizard->State().AnalysisDone) {
    std::fprintf(stderr, "the analysis failed\n");
    std::exit(1);
  }
  delete wizard;  // the job's folder stays for the import
  return ours;
}

// A recorder of the second job's analysis that takes the import.
class ImportEvents : public wizard::AnalysisEvents {
 public:
  void Log(wizard::LogKind, const std::string& text) override {
    if (text.rfind("Analyzing", 0) == 0) analysed = true;
  }
  void Progress(int) override {}
  void RemainingSeconds(int) override {}
  void ShowError(const std::string& message) override { error = message; }
  bool AskImport() override { return true; }
  void Ended(bool success) override { ok = success; }
  bool analysed = false, ok = false;
  std::string error;
};

double Import(const std::string& pending, const std::string& dvd, const std::string& job) {
  queue::RemoveFolderTree(job);
  wizard::AnalysisSetup setup;
  setup.JobFolder = job;
  setup.JobDataFolder = job + "/.kvnj/";
  setup.DvdFolder = dvd;
  queue::JobEntry row;
  row.Path = pending;
  setup.Queue = {row};
  wizard::TitleSetTable table;
  wizard::AnalysisControl control;
  ImportEvents events;
  const double start = Now();
  wizard::AnalysisWorker(setup, table, control, events).Execute();
  const double seconds = Now() - start;
  if (!events.ok || events.analysed) {
    std::fprintf(stderr, "the import failed: %s\n", events.error.c_str());
    std::exit(1);
  }
  return seconds;
}

double Copy(const std::vector<std::string>& files, const std::string& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("cp"));
  for (const std::string& f : files) argv.push_back(const_cast<char*>(f.c_str()));
  argv.push_back(const_cast<char*>(to.c_str()));
  argv.push_back(nullptr);
  const double start = Now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp("cp", argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = Now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "cp failed\n");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <sample VIDEO_TS> <work-folder> [GiB] [pairs]\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const std::string sample = argv[1];
  const std::string work = fs::absolute(argv[2]).string();
  const int64_t gib = argc > 3 ? std::atoll(argv[3]) : 4;
  const int pairs = argc > 4 ? std::atoi(argv[4]) : 3;
  if (gib < 1 || gib > 9 || pairs < 1) {
    std::fprintf(stderr, "GiB must be 1-9, pairs at least 1\n");
    return 2;
  }
  int qt_argc = 1;
  QApplication application(qt_argc, argv);
  platform::UseWindowDialogs();

  const std::string disc = work + "/disc";
  const std::vector<TitleSet> sets = MakeDisc(sample, disc + "/VIDEO_TS", gib);
  BareRuns(sets, work + "/bare");  // the first pass brings the files into the page cache

  std::vector<double> ours, peers, ours_cpu, peers_cpu, stalls;
  auto bare = [&] {
    const Run run = BareRuns(sets, work + "/bare");
    peers.push_back(run.wall);
    peers_cpu.push_back(run.cpu);
  };
  for (int i = 0; i < pairs; ++i) {
    // Alternate which goes first.
    if (i % 2) bare();
    const Ours run = WizardAnalysis(disc, work + "/jobs");
    ours.push_back(run.seconds);
    ours_cpu.push_back(run.cpu_seconds);
    stalls.push_back(run.worst_stall_ms);
    if (i % 2 == 0) bare();
    std::printf(
        "pair %d: analysis %.3f s wall, %.3f s processor (longest UI stall %.1f ms); "
        "bare index runs %.3f s wall, %.3f s processor\n",
        i + 1, ours.back(), ours_cpu.back(), stalls.back(), peers.back(), peers_cpu.back());
  }

  // The import of the analysis just made, against cp of the same files.
  const std::string pending = work + "/jobs/Bench";
  const std::string dvd = disc + "/VIDEO_TS/";
  std::vector<std::string> files;
  const auto checksum = dvd::ComputeDiscChecksum(dvd);
  const auto lines = wizard::MatchAnalysisLog(Read(pending + "/.kvnj/.idxlog"), dvd, *checksum);
  if (!lines) {
    std::fprintf(stderr, "no analysis log to import\n");
    return 1;
  }
  int64_t bytes = 0;
  for (const std::string& line : *lines) {
    if (wizard::IsTitleSetLine(line)) continue;
    files.push_back(pending + "/.kvnj/" + line);
    bytes += static_cast<int64_t>(fs::file_size(files.back()));
  }
  files.push_back(pending + "/.kvnj/.idxlog");
  std::vector<double> imports, copies;
  for (int i = 0; i < pairs * 2; ++i) {
    if (i % 2) copies.push_back(Copy(files, work + "/copy"));
    imports.push_back(Import(pending, dvd, work + "/imported"));
    if (i % 2 == 0) copies.push_back(Copy(files, work + "/copy"));
  }

  int64_t disc_bytes = 0;
  for (const TitleSet& set : sets)
    for (const std::string& f : set.files) disc_bytes += static_cast<int64_t>(fs::file_size(f));
  std::printf("disc: %zu title sets, %.0f MiB of VOB files\n", sets.size(),
              static_cast<double>(disc_bytes) / (1 << 20));
  std::printf("analysis (median of %d): %.3f s; bare index runs: %.3f s; ratio %.3f\n", pairs,
              Median(ours), Median(peers), Median(ours) / Median(peers));
  std::printf(
      "processor time (median of %d): analysis %.3f s; bare index runs %.3f s; ratio %.3f\n", pairs,
      Median(ours_cpu), Median(peers_cpu), Median(ours_cpu) / Median(peers_cpu));
  std::printf("longest user-interface stall during the analyses: %.1f ms\n",
              *std::max_element(stalls.begin(), stalls.end()));
  std::printf("import of %zu files, %.1f MiB (median of %d): %.4f s; cp: %.4f s; ratio %.2f\n",
              files.size(), static_cast<double>(bytes) / (1 << 20), pairs * 2, Median(imports),
              Median(copies), Median(imports) / Median(copies));
  return 0;
}
