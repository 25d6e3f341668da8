#pragma once

#include <functional>
#include <string>
#include <vector>

#include "wizard/analysis_events.h"

namespace kv_test {

// Records what an analysis reports; answers the import question from a
// script and may act when a log line arrives.
class AnalysisEventsRecorder : public wizard::AnalysisEvents {
 public:
  void Log(wizard::LogKind kind, const std::string& text) override {
    logs.push_back(text);
    kinds.push_back(kind);
    if (on_log) on_log(text);
  }
  void Progress(int percent) override { progress.push_back(percent); }
  void RemainingSeconds(int seconds) override { estimates.push_back(seconds); }
  void ShowError(const std::string& message) override { errors.push_back(message); }
  bool AskImport() override {
    ++import_questions;
    if (on_ask) on_ask();
    return import_answer;
  }
  void Ended(bool success) override { ends.push_back(success); }

  std::vector<std::string> logs;
  std::vector<wizard::LogKind> kinds;
  std::vector<int> progress;
  std::vector<int> estimates;
  std::vector<std::string> errors;
  std::vector<bool> ends;
  int import_questions = 0;
  bool import_answer = false;
  std::function<void(const std::string&)> on_log;
  std::function<void()> on_ask;
};

}  // namespace kv_test
