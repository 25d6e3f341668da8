#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace cli {

// Where a long piece of work stands, as the terminal shows it.
struct ProgressSnapshot {
  double Percent = 0;              // 0..100
  std::optional<int> SecondsLeft;  // none until there is an estimate
  std::string Label;               // "Analyzing VTS_01", "Holiday: volume 1 of 2"
};

// "Label [#########...........]  45.3 %  00:12 left" fitted to `columns`.
std::string FormatProgressLine(const ProgressSnapshot& progress, int columns);

// Prints progress: on a terminal one line rewritten in place, otherwise a
// plain line whenever the whole percentage or the label changes.
class ProgressPrinter {
 public:
  ProgressPrinter(std::FILE* out, bool terminal, int columns = 80);
  ~ProgressPrinter();

  void Update(const ProgressSnapshot& progress);
  // A message of its own line; an open progress line is ended first.
  void Message(const std::string& line);
  // Ends the progress line, if one is open.
  void Close();

 private:
  std::FILE* out_;
  bool terminal_;
  int columns_;
  bool line_open_ = false;
  std::string last_label_;
  int last_whole_percent_ = -1;
};

}  // namespace cli
