// Import of a pending job's analysis: a job of the queue that has not been
// encoded yet and was analysed from the same disc lends its index files, so
// that the disc is not indexed again. Only files of the pending job's own
// data folder named by a bare file name are read, and only the new job's
// data folder is written.
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "platform/file_system.h"
#include "queue/job_file.h"
#include "wizard/analysis_worker.h"

namespace wizard {

namespace {

// Far more than the log of a disc with 99 title sets holds.
constexpr std::streamoff kMaxAnalysisLogSize = 4 << 20;

// The size of a regular file that is not a link; none otherwise.
std::optional<int64_t> RegularFileSize(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<int64_t>(st.st_size);
}

std::optional<std::string> ReadLog(const std::string& path) {
  if (!RegularFileSize(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxAnalysisLogSize) return std::nullopt;
  in.seekg(0);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

bool AnalysisWorker::FindPendingAnalysis() {
  for (const queue::JobEntry& row : setup_.Queue) {
    if (row.State != queue::JobState::Pending) continue;
    const std::string data_folder = queue::JobDataFolderOf(row.Path);
    const std::optional<std::string> text = ReadLog(data_folder + kAnalysisLogName);
    if (!text) continue;
    std::optional<std::vector<std::string>> lines =
        MatchAnalysisLog(*text, setup_.DvdFolder, checksum_);
    if (!lines) continue;
    int64_t total = 0;
    bool qualifies = true;
    for (const std::string& line : *lines) {
      if (IsTitleSetLine(line)) {
        qualifies = TitleSetOfLine(line).has_value();
      } else {
        const std::optional<int64_t> size =
            IsBareFileName(line) ? RegularFileSize(data_folder + line) : std::nullopt;
        qualifies = size.has_value();
        total += size.value_or(0);
      }
      if (!qualifies) break;
    }
    if (!qualifies || total <= 0) continue;
    import_folder_ = data_folder;
    import_lines_ = std::move(*lines);
    import_total_ = total;
    // The first matching job is the only one offered.
    return !control_.StopRequested() && events_.AskImport();
  }
  return false;
}

bool AnalysisWorker::ImportAnalysis() {
  int64_t copied = 0;
  int current = 0;
  for (const std::string& line : import_lines_) {
    if (!control_.Checkpoint()) {
      Abort();
      return false;
    }
    if (IsTitleSetLine(line)) {
      const std::optional<int> next = TitleSetOfLine(line);
      if (!next || (current != 0 && !AnalyzeTitleSet(current, true))) {
        ReportImportError();
        return false;
      }
      current = *next;
      events_.Log(LogKind::Working, "Importing " + TitleSetName(current));
      continue;
    }
    const std::string from = import_folder_ + line;
    const std::optional<int64_t> size = IsBareFileName(line) ? RegularFileSize(from) : std::nullopt;
    if (!size || !platform::CopyFileReplacing(from, setup_.JobDataFolder + line)) {
      ReportImportError();
      return false;
    }
    copied += *size;
    events_.Progress(static_cast<int>(copied * 100 / import_total_));
  }
  if (!control_.Checkpoint()) {
    Abort();
    return false;
  }
  if (current == 0 || !AnalyzeTitleSet(current, true) ||
      !platform::CopyFileReplacing(import_folder_ + kAnalysisLogName,
                                   setup_.JobDataFolder + kAnalysisLogName)) {
    ReportImportError();
    return false;
  }
  return true;
}

void AnalysisWorker::ReportImportError() {
  ReportFatal("Import error", "Unable to import analysis data! You should reanalyze the DVD!");
}

}  // namespace wizard
