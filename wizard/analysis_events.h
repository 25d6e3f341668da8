#pragma once

#include <string>

namespace wizard {

// The kinds of the analysis log's lines (the pictures of the log list).
enum class LogKind { Information = 0, Warning = 1, Error = 2, Working = 3 };

// What the DVD analysis tells the one who runs it: the wizard's analysis
// page, or a front end without windows. Each call returns once it has been
// handled.
class AnalysisEvents {
 public:
  virtual ~AnalysisEvents() = default;

  virtual void Log(LogKind kind, const std::string& text) = 0;
  virtual void Progress(int percent) = 0;
  // The estimate of the time left; 0 when there is none.
  virtual void RemainingSeconds(int seconds) = 0;
  // A fatal error's message, after its log line.
  virtual void ShowError(const std::string& message) = 0;
  // Whether to import the analysis of a pending job of the same disc.
  virtual bool AskImport() = 0;
  // The end of the analysis; not reported when it was aborted.
  virtual void Ended(bool success) = 0;
};

}  // namespace wizard
