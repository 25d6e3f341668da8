#include "wizard/title_files.h"

#include <cctype>
#include <cstdio>

#include "dvd/ifo_reader.h"
#include "platform/file_system.h"

namespace wizard {

std::string TitleSetFileName(int n, int m, const char* extension) {
  char name[48];
  std::snprintf(name, sizeof name, "VTS_%.2d_%d.%s", n, m, extension);
  return name;
}

namespace {

// Digits at `pos` as a number; advances `pos`. None without a digit or for
// more digits than a title set file name carries.
std::optional<int> ReadNumber(const std::string& text, size_t& pos) {
  const size_t start = pos;
  int value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    if (pos - start >= 4) return std::nullopt;
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (pos == start) return std::nullopt;
  return value;
}

bool ReadLiteral(const std::string& text, size_t& pos, const std::string& literal) {
  for (char c : literal) {
    if (pos >= text.size() || std::toupper(static_cast<unsigned char>(text[pos])) != c)
      return false;
    ++pos;
  }
  return true;
}

}  // namespace

std::optional<TitleSetFileNumbers> ParseTitleSetFileName(const std::string& name,
                                                         const char* extension) {
  size_t pos = 0;
  TitleSetFileNumbers numbers;
  if (!ReadLiteral(name, pos, "VTS_")) return std::nullopt;
  const std::optional<int> n = ReadNumber(name, pos);
  if (!n || !ReadLiteral(name, pos, "_")) return std::nullopt;
  const std::optional<int> m = ReadNumber(name, pos);
  if (!m || !ReadLiteral(name, pos, std::string(".") + extension) || pos != name.size())
    return std::nullopt;
  numbers.title_set = *n;
  numbers.part = *m;
  return numbers;
}

std::optional<std::string> FindEntryNoCase(const std::string& folder, const std::string& name,
                                           bool directory) {
  const std::string exact = platform::JoinPath(folder, name);
  if (directory ? platform::DirectoryExists(exact) : platform::FileExists(exact)) return name;
  // A name without wildcards matches itself in any case.
  if (name.find_first_of("*?") != std::string::npos) return std::nullopt;
  const auto kind = directory ? platform::SearchKind::Directories : platform::SearchKind::Files;
  const std::vector<std::string> found = platform::FindFiles(folder, name, kind);
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::string FilePathNoCase(const std::string& folder, const std::string& name) {
  return platform::JoinPath(folder, FindEntryNoCase(folder, name).value_or(name));
}

std::string TitleSetInformationPath(const std::string& folder, int n) {
  const std::string ifo = FilePathNoCase(folder, TitleSetFileName(n, 0, "IFO"));
  if (platform::FileSize(ifo).value_or(0) > 0) return ifo;
  const std::string backup = FilePathNoCase(folder, TitleSetFileName(n, 0, "BUP"));
  return platform::FileSize(backup).value_or(0) > 0 ? backup : ifo;
}

std::unique_ptr<dvd::IfoFile> OpenTitleSetInformation(const std::string& folder, int n) {
  return dvd::IfoFile::OpenPath(TitleSetInformationPath(folder, n));
}

bool TitleSetUsable(const std::string& folder, int n) {
  return platform::FileSize(TitleSetInformationPath(folder, n)).value_or(0) > 0 &&
         platform::FileSize(FilePathNoCase(folder, TitleSetFileName(n, 1, "VOB"))).value_or(0) > 0;
}

bool FolderHoldsTitle(const std::string& folder) {
  for (const std::string& ifo : platform::FindFiles(folder, "VTS_??_0.IFO")) {
    const auto numbers = ParseTitleSetFileName(ifo, "IFO");
    if (numbers && numbers->part == 0 && TitleSetUsable(folder, numbers->title_set)) return true;
  }
  return false;
}

}  // namespace wizard
