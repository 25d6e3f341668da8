// An analysis that tells nobody anything and imports nothing, for the
// benchmarks that run the wizard's analysis without its page.
#pragma once

#include <cstdio>
#include <string>

#include "wizard/analysis_control.h"
#include "wizard/analysis_events.h"
#include "wizard/analysis_worker.h"
#include "wizard/wizard_state.h"

namespace kv_tools {

class QuietAnalysis : public wizard::AnalysisEvents {
 public:
  void Log(wizard::LogKind kind, const std::string& text) override {
    if (kind == wizard::LogKind::Error) std::fprintf(stderr, "analysis: %s\n", text.c_str());
  }
  void Progress(int) override {}
  void RemainingSeconds(int) override {}
  void ShowError(const std::string& message) override {
    std::fprintf(stderr, "analysis: %s\n", message.c_str());
  }
  bool AskImport() override { return false; }
  void Ended(bool success) override { ok = success; }
  bool ok = false;
};

// The analysis of `state`'s DVD folder into its job folders, as the
// wizard's worker runs it; false when it failed.
inline bool AnalyseQuietly(wizard::WizardState& state) {
  wizard::AnalysisSetup setup;
  setup.JobFolder = state.JobFolder;
  setup.JobDataFolder = state.JobDataFolder;
  setup.DvdFolder = state.DvdFolder;
  wizard::AnalysisControl control;
  QuietAnalysis events;
  wizard::AnalysisWorker(setup, state.TitleSets, control, events).Execute();
  state.AnalysisDone = events.ok;
  return events.ok;
}

}  // namespace kv_tools
