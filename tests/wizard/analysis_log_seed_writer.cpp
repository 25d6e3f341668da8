// analysis_log_seed_writer <corpus>: the analysis logs and title set files the
// wizard's analysis leaves in a job, as starting inputs for analysis_log_fuzz:
// each sample disc below is analysed as a new job is, and its ".idxlog"
// (with the disc's folder and checksum as "@DISC@" and "@SUM@") is written
// with its "vts01.idxinfo" after a NUL. A seed that exists is kept, so that
// only the first run pays for the analyses.
#include <cstdio>
#include <string>

#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "wizard/analysis_files.h"
#include "wizard/analysis_worker.h"

namespace {

class Quiet : public wizard::AnalysisEvents {
 public:
  void Log(wizard::LogKind, const std::string&) override {}
  void Progress(int) override {}
  void RemainingSeconds(int) override {}
  void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskImport() override { return false; }
  void Ended(bool success) override { success_ = success; }
  bool Succeeded() const { return success_; }

 private:
  bool success_ = false;
};

void Replace(std::string& text, const std::string& what, const std::string& with) {
  for (size_t at; !what.empty() && (at = text.find(what)) != std::string::npos;)
    text.replace(at, what.size(), with);
}

// The seed of one disc; false when its analysis fails.
bool Seed(const std::string& disc, const std::string& path) {
  kv_test::TempDir job("analysis-seed");
  wizard::AnalysisSetup setup;
  setup.JobFolder = job.Path();
  setup.JobDataFolder = job.File(".kvnj/");
  setup.DvdFolder = kv_test::SampleVideoTs(disc) + "/";
  wizard::TitleSetTable table;
  wizard::AnalysisControl control;
  Quiet events;
  wizard::AnalysisWorker(setup, table, control, events).Execute();
  if (!events.Succeeded()) return false;
  std::string log = kv_test::ReadFile(setup.JobDataFolder + wizard::kAnalysisLogName);
  const auto lines = wizard::AnalysisLogLines(log);
  if (!lines || lines->size() < 3) return false;
  Replace(log, (*lines)[1], "@DISC@");
  Replace(log, (*lines)[2], "@SUM@");
  const std::string info = kv_test::ReadFile(setup.JobDataFolder + wizard::TitleSetInfoName(1));
  kv_test::WriteFile(path, log + '\0' + info);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus>\n", argv[0]);
    return 2;
  }
  for (const char* disc : {"ntsc_film", "pal_bff_interlaced", "ntsc_multi", "pal_sync"}) {
    const std::string path = std::string(argv[1]) + "/analysis_" + disc;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
      std::fclose(f);
      continue;
    }
    if (!Seed(disc, path)) {
      std::fprintf(stderr, "the analysis of %s failed\n", disc);
      return 1;
    }
  }
  return 0;
}
