#pragma once

#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "queue/job_entry.h"
#include "wizard/analysis_events.h"
#include "wizard/analyze_thread.h"
#include "wizard/remaining_time.h"
#include "wizard/wizard_frame.h"
#include "wizard/worker_calls.h"

namespace wizard {

// Page 2 ("Step2"): the DVD analysis with its log, progress bar and time
// left. The analysis runs on TKVNAnalyzeThread; what it reports arrives
// here on the user-interface thread.
class AnalysisPage : public QWidget, public WizardPage, public AnalysisEvents {
  Q_OBJECT
 public:
  // `queue_rows` gives the queue's rows when an analysis starts.
  AnalysisPage(WizardFrame& frame, std::function<std::vector<queue::JobEntry>()> queue_rows);
  ~AnalysisPage() override;

  // EnterAnalysisPage: starts the analysis.
  void Enter() override;
  // LeaveAnalysisPage.
  bool Leave(bool forward) override;

  enum class Question { Abort, Close };
  // Pauses the analysis and asks; on Yes stops it, removes the job's folder
  // and reports the abort. True when aborted.
  bool AbortAnalysis(Question question);
  // Whether an analysis thread of this page has not ended yet.
  bool WorkerRunning() const;

  // AnalysisEvents, on the user-interface thread.
  void Log(LogKind kind, const std::string& text) override;
  void Progress(int percent) override;
  void RemainingSeconds(int seconds) override;
  void ShowError(const std::string& message) override;
  bool AskImport() override;
  void Ended(bool success) override;

 private:
  void PauseAnalysis();
  void ResumeAnalysis();
  void AnalysisEnded(bool success);
  void AddLogLine(LogKind kind, const QString& text);
  void ShowRemainingTime();
  void RestoreApplicationTitle();

  WizardFrame& frame_;
  std::function<std::vector<queue::JobEntry>()> queue_rows_;
  QTreeWidget* LogList;
  QVector<QIcon> LogIconList;
  QProgressBar* ProgressBar;
  QLabel* TimeTextLabel;
  QLabel* TimeLabel;

  RemainingTimeView remaining_;
  WorkerCalls calls_;
  // Every analysis thread of the wizard, kept until the wizard goes; the
  // last one is the current.
  std::vector<std::unique_ptr<TKVNAnalyzeThread>> threads_;
};

}  // namespace wizard
