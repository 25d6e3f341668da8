#include "outside/producer/console.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>

namespace producer {

std::string BannerLine() {
  return "Helix DNA(TM) Producer 10.0 (Kestrevane RealMedia encoder, RealVideo 2.0 and AAC)\r\n";
}

std::string StartingLine() {
  return "Info: Starting encode\r\n";
}

std::string InfoLine(const std::string& text) {
  return "Info: " + text + "\r\n";
}

std::string ErrorLine(const std::string& text) {
  return "Error: " + text + "\r\n";
}

std::string WarningLine(const std::string& text) {
  return "Warning: " + text + "\r\n";
}

std::string AnalysisLine(int percent) {
  char line[64];
  std::snprintf(line, sizeof line, "Analysis: %d%%\r", percent);
  return line;
}

std::string EncodingLine(int pass, int percent, int64_t kbps) {
  char line[96];
  std::snprintf(line, sizeof line, "Encoding@%" PRId64 " Kbps: Pass %d (%d%%)\r", kbps, pass,
                percent);
  return line;
}

std::string DoneLine(const std::string& files, int64_t bytes, double seconds) {
  char tail[96];
  std::snprintf(tail, sizeof tail, " (%" PRId64 " bytes, %.1f s)\r\n", bytes, seconds);
  return "Done encoding " + files + tail;
}

void Print(const std::string& line) {
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nobody reads any more: the work goes on all the same
    done += static_cast<size_t>(n);
  }
}

}  // namespace producer
