#include "cli/terminal_progress.h"

#include <algorithm>
#include <cmath>

namespace cli {

std::string FormatProgressLine(const ProgressSnapshot& progress, int columns) {
  const double percent = std::clamp(progress.Percent, 0.0, 100.0);
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, " %5.1f %%", percent);
  std::string tail = numbers;
  if (progress.SecondsLeft) {
    const int s = std::max(0, *progress.SecondsLeft);
    char left[32];
    if (s >= 3600) {
      std::snprintf(left, sizeof left, "  %d:%.2d:%.2d left", s / 3600, s / 60 % 60, s % 60);
    } else {
      std::snprintf(left, sizeof left, "  %.2d:%.2d left", s / 60, s % 60);
    }
    tail += left;
  }
  std::string label = progress.Label;
  // The bar gets what the label and the numbers leave, at least 10 cells.
  const int fixed = static_cast<int>(tail.size()) + 3;
  int bar = columns - 1 - fixed - static_cast<int>(label.size());
  if (bar < 10) {
    bar = 10;
    const int room = std::max(0, columns - 1 - fixed - bar);
    if (static_cast<int>(label.size()) > room) label = label.substr(0, room);
  }
  const int filled = static_cast<int>(std::floor(percent / 100.0 * bar));
  std::string line = label;
  if (!line.empty()) line += ' ';
  line += '[';
  line.append(filled, '#');
  line.append(bar - filled, '.');
  line += ']';
  return line + tail;
}

ProgressPrinter::ProgressPrinter(std::FILE* out, bool terminal, int columns)
    : out_(out), terminal_(terminal), columns_(std::max(columns, 40)) {}

ProgressPrinter::~ProgressPrinter() {
  Close();
}

void ProgressPrinter::Update(const ProgressSnapshot& progress) {
  if (terminal_) {
    // "\r" and erase-to-end keep one line however the text shrinks.
    std::fprintf(out_, "\r%s\x1b[K", FormatProgressLine(progress, columns_).c_str());
    line_open_ = true;
  } else {
    const int whole = static_cast<int>(std::floor(std::clamp(progress.Percent, 0.0, 100.0)));
    if (whole == last_whole_percent_ && progress.Label == last_label_) return;
    last_whole_percent_ = whole;
    last_label_ = progress.Label;
    std::fprintf(out_, "%s\n", FormatProgressLine(progress, columns_).c_str());
  }
  std::fflush(out_);
}

void ProgressPrinter::Message(const std::string& line) {
  Close();
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void ProgressPrinter::Close() {
  if (!line_open_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  line_open_ = false;
}

}  // namespace cli
