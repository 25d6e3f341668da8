#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessmar/include/tessmar.h"

namespace wizard {

// The two files the analysis leaves in a job's data folder so that a later
// job of the same disc can reuse its work: per title set the library's
// status block at the end of its index run ("vts01.idxinfo", binary), and
// per job the analysis log (".idxlog", text) naming the disc and the files
// of each title set.

inline constexpr char kTitleSetInfoMagic[] = "TessmarInfo";  // 11 bytes, no terminator
inline constexpr size_t kTitleSetInfoMagicSize = sizeof(kTitleSetInfoMagic) - 1;
inline constexpr size_t kTitleSetInfoSize = kTitleSetInfoMagicSize + sizeof(TessmarStatus);
inline constexpr char kAnalysisLogName[] = ".idxlog";
// Longest line of an analysis log the reader takes.
inline constexpr size_t kMaxAnalysisLogLine = 4095;

// "vts%.2d": the base of a title set's files in the data folder.
std::string TitleSetBase(int n);
// "VTS_%.2d": the title set as the log names it.
std::string TitleSetName(int n);
// TitleSetBase(n) + ".idxinfo".
std::string TitleSetInfoName(int n);

// The status block as it stands, each field read atomically (the library may
// still be writing it).
TessmarStatus SnapshotStatus(TessmarStatus& live);

bool WriteTitleSetInfo(const std::string& path, const TessmarStatus& status);
// None when the file is missing, has another head or is short.
std::optional<TessmarStatus> ReadTitleSetInfo(const std::string& path);
std::optional<TessmarStatus> ParseTitleSetInfo(std::string_view bytes);

// Builds an analysis log: the head naming the disc, then per title set its
// line and the names of its files.
class AnalysisLogWriter {
 public:
  void Head(const std::string& dvd_folder, uint32_t checksum);
  void TitleSet(int n);
  void File(const std::string& name);
  // The file's bytes, CR LF line ends.
  const std::string& Text() const { return text_; }
  bool Write(const std::string& path) const;

 private:
  void Line(const std::string& line);
  std::string text_;
};

// The lines of a log: CR LF or LF ends, blank lines skipped. None when a line
// is longer than a log written here can hold.
std::optional<std::vector<std::string>> AnalysisLogLines(std::string_view text);

// The lines after the head of a log made from `dvd_folder` (the same folder
// once both are resolved to their real paths) with `checksum`; none for a
// log of another disc, of another format, or one that ends after its head.
std::optional<std::vector<std::string>> MatchAnalysisLog(std::string_view text,
                                                         const std::string& dvd_folder,
                                                         uint32_t checksum);

// A title set line ("> VTS_01") gives its number 1-99.
bool IsTitleSetLine(const std::string& line);
std::optional<int> TitleSetOfLine(const std::string& line);
// A file line may only name a file of the data folder itself: no separator,
// not "." or "..", nothing absolute.
bool IsBareFileName(const std::string& line);

}  // namespace wizard
