#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dvd/disc_checksum.h"
#include "dvd/ifo_reader.h"
#include "queue/job_entry.h"
#include "wizard/analysis_control.h"
#include "wizard/analysis_events.h"
#include "wizard/analysis_files.h"
#include "wizard/title_set_table.h"

namespace wizard {

// What an analysis works on.
struct AnalysisSetup {
  std::string JobFolder;
  std::string JobDataFolder;  // with a trailing "/"
  std::string DvdFolder;      // with a trailing "/"
  // The queue's rows in queue order; a pending job of the same disc may
  // lend its analysis.
  std::vector<queue::JobEntry> Queue;
  // Milliseconds of a steady clock; the system's when empty.
  std::function<int64_t()> Clock;
};

// Progress of the analysis with the library at `percent` of a title set of
// `title_set_bytes`, `bytes_done` bytes of earlier title sets and `total`
// bytes in all.
int AnalysisProgress(float percent, int64_t title_set_bytes, int64_t bytes_done, int64_t total);
// Seconds left after `elapsed` seconds at `progress` percent (above 0).
int RemainingEstimate(int64_t elapsed, int progress);

// The DVD analysis: creates the job's folders, indexes every title set of
// the disc with the library (or imports the analysis of a pending job of the
// same disc), reads the title set information files and fills the title set
// table. It runs on the calling thread, reports through `events` and stops
// at the requests of `control`. The work of TKVNAnalyzeThread.
class AnalysisWorker {
 public:
  AnalysisWorker(AnalysisSetup setup, TitleSetTable& table, AnalysisControl& control,
                 AnalysisEvents& events);

  void Execute();

  // How often the progress and the estimate move while the library runs,
  // and how often the run is looked at meanwhile.
  static constexpr int kProgressIntervalMs = 1000;
  static constexpr int kPollIntervalMs = 4;

 private:
  bool Prepare();
  bool AnalyseDisc();
  bool AnalyzeTitleSet(int n, bool import);
  // Lists the title set's VOB files into `files`; false when there are none.
  bool ListTitleSetFiles(int n, std::vector<std::string>& files);
  // Runs the library over the title set and waits for its end.
  bool RunIndex(int n, const std::vector<std::string>& files);
  bool FillTitleSet(int n, const dvd::IfoFile& ifo, const TessmarStatus& status);
  bool CopySubpictureFiles(int n, const TessmarStatus& status);
  void ListTitleSetInLog(int n);
  // The end of a run asked for by the user: the library is stopped and
  // nothing more is reported.
  void Abort();
  void ReportFatal(const std::string& title, const std::string& message);

  // Import of a pending job's analysis (analysis_import.cpp).
  bool FindPendingAnalysis();
  bool ImportAnalysis();
  void ReportImportError();

  int64_t NowMs() const;

  AnalysisSetup setup_;
  TitleSetTable& table_;
  AnalysisControl& control_;
  AnalysisEvents& events_;

  dvd::DiscChecksum checksum_ = 0;
  bool aborted_ = false;
  int64_t total_bytes_ = 0;
  int64_t title_set_bytes_ = 0;
  int64_t bytes_done_ = 0;
  int64_t start_ms_ = 0;
  AnalysisLogWriter log_;

  // The pending job whose analysis is imported.
  std::string import_folder_;  // its data folder, with a trailing "/"
  std::vector<std::string> import_lines_;
  int64_t import_total_ = 0;
};

}  // namespace wizard
