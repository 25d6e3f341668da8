#include "wizard/analysis_files.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace wizard {

namespace {

template <typename T>
T Load(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_acquire);
}

// Two DVD folders hold the same disc when they are the same folder: both
// resolved to their real paths, then compared exactly ("dvd" and "DVD" are
// two folders). A folder that is gone matches none.
bool SameFolder(const std::string& a, const std::string& b) {
  std::error_code a_error, b_error;
  const std::filesystem::path real_a = std::filesystem::canonical(a, a_error);
  const std::filesystem::path real_b = std::filesystem::canonical(b, b_error);
  return !a_error && !b_error && real_a == real_b;
}

std::optional<uint32_t> ParseHex(const std::string& text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

}  // namespace

std::string TitleSetBase(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "vts%.2d", n);
  return text;
}

std::string TitleSetName(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "VTS_%.2d", n);
  return text;
}

std::string TitleSetInfoName(int n) {
  return TitleSetBase(n) + ".idxinfo";
}

TessmarStatus SnapshotStatus(TessmarStatus& live) {
  TessmarStatus s{};
  s.thread = Load(live.thread);
  s.running = Load(live.running);
  s.ended = Load(live.ended);
  s.suspended = Load(live.suspended);
  s.percent = Load(live.percent);
  s.finished = Load(live.finished);
  s.scrambled = Load(live.scrambled);
  s.videoKind = Load(live.videoKind);
  s.codedWidth = Load(live.codedWidth);
  s.codedHeight = Load(live.codedHeight);
  s.aspectCode = Load(live.aspectCode);
  s.mostlyProgressive = Load(live.mostlyProgressive);
  s.majorityPercent = Load(live.majorityPercent);
  s.topFieldFirst = Load(live.topFieldFirst);
  s.filmPercent = Load(live.filmPercent);
  s.frameRate = Load(live.frameRate);
  s.audioStreamCount = Load(live.audioStreamCount);
  for (int i = 0; i < 8; ++i) {
    AudioStreamInfo& from = live.audio[i];
    AudioStreamInfo& to = s.audio[i];
    to.format = Load(from.format);
    to.delayMs = Load(from.delayMs);
    to.channels = Load(from.channels);
    to.bitsPerSample = Load(from.bitsPerSample);
    to.sampleRate = Load(from.sampleRate);
  }
  s.subpictureStreamCount = Load(live.subpictureStreamCount);
  for (int i = 0; i < 32; ++i) s.subpicturePresent[i] = Load(live.subpicturePresent[i]);
  return s;
}

// The block is stored as it lies in memory: the layout is fixed and
// little-endian, as on the machines the program runs on.
bool WriteTitleSetInfo(const std::string& path, const TessmarStatus& status) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok =
      std::fwrite(kTitleSetInfoMagic, 1, kTitleSetInfoMagicSize, file) == kTitleSetInfoMagicSize &&
      std::fwrite(&status, 1, sizeof status, file) == sizeof status;
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

std::optional<TessmarStatus> ParseTitleSetInfo(std::string_view bytes) {
  if (bytes.size() < kTitleSetInfoSize ||
      bytes.substr(0, kTitleSetInfoMagicSize) != std::string_view(kTitleSetInfoMagic))
    return std::nullopt;
  TessmarStatus status;
  std::memcpy(&status, bytes.data() + kTitleSetInfoMagicSize, sizeof status);
  return status;
}

std::optional<TessmarStatus> ReadTitleSetInfo(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  char bytes[kTitleSetInfoSize];
  in.read(bytes, sizeof bytes);
  return ParseTitleSetInfo(std::string_view(bytes, static_cast<size_t>(in.gcount())));
}

void AnalysisLogWriter::Line(const std::string& line) {
  text_ += line;
  text_ += "\r\n";
}

void AnalysisLogWriter::Head(const std::string& dvd_folder, uint32_t checksum) {
  text_.clear();
  Line(kAnalysisLogName);
  Line("");
  Line(dvd_folder);
  char hex[16];
  std::snprintf(hex, sizeof hex, "%.8x", checksum);
  Line(hex);
  Line("");
}

void AnalysisLogWriter::TitleSet(int n) {
  Line("> " + TitleSetName(n));
}

void AnalysisLogWriter::File(const std::string& name) {
  Line(name);
}

bool AnalysisLogWriter::Write(const std::string& path) const {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(text_.data(), 1, text_.size(), file) == text_.size();
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

std::optional<std::vector<std::string>> AnalysisLogLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxAnalysisLogLine) return std::nullopt;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    lines.emplace_back(line);
  }
  return lines;
}

std::optional<std::vector<std::string>> MatchAnalysisLog(std::string_view text,
                                                         const std::string& dvd_folder,
                                                         uint32_t checksum) {
  std::optional<std::vector<std::string>> lines = AnalysisLogLines(text);
  if (!lines || lines->size() < 4) return std::nullopt;
  if ((*lines)[0] != kAnalysisLogName || !SameFolder((*lines)[1], dvd_folder)) return std::nullopt;
  const std::optional<uint32_t> stored = ParseHex((*lines)[2]);
  if (!stored || *stored != checksum) return std::nullopt;
  return std::vector<std::string>(std::make_move_iterator(lines->begin() + 3),
                                  std::make_move_iterator(lines->end()));
}

bool IsTitleSetLine(const std::string& line) {
  return !line.empty() && line[0] == '>';
}

std::optional<int> TitleSetOfLine(const std::string& line) {
  static const std::string prefix = "> VTS_";
  if (line.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const std::string digits = line.substr(prefix.size());
  if (digits.empty() || digits.size() > 2) return std::nullopt;
  int n = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > 99) return std::nullopt;
  return n;
}

bool IsBareFileName(const std::string& line) {
  return !line.empty() && line != "." && line != ".." &&
         line.find_first_of("/\\") == std::string::npos && line.find('\0') == std::string::npos;
}

}  // namespace wizard
