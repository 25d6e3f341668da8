#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/sleep_inhibitor.h"

#include "wizard/analysis_control.h"
#include "wizard/analysis_events.h"
#include "wizard/analysis_worker.h"
#include "wizard/worker_calls.h"

namespace wizard {

// The analysis on a thread of its own. What the analysis reports reaches
// `ui_events` on the user-interface thread through `calls`, and the worker
// waits until it has been handled there. The status block of the library
// lives in this object, which is kept until the wizard goes. The computer is
// kept awake from the start until the analysis ends.
class TKVNAnalyzeThread {
 public:
  // Starts at once.
  TKVNAnalyzeThread(AnalysisSetup setup, TitleSetTable& table, AnalysisEvents& ui_events,
                    WorkerCalls& calls);
  // Asks a running analysis to stop and waits for its thread; its calls
  // must be served or shut down meanwhile.
  ~TKVNAnalyzeThread();

  void Pause() { control_.Pause(); }
  void Resume() { control_.Resume(); }
  void Terminate() { control_.RequestStop(); }
  // Waits for the thread's end while serving its calls.
  void WaitFor();
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

 private:
  // The events of the worker, handed over to the user-interface thread.
  class HandedOver : public AnalysisEvents {
   public:
    HandedOver(AnalysisEvents& target, WorkerCalls& calls,
               std::unique_ptr<platform::SleepLock> sleep_lock)
        : target_(target), calls_(calls), sleep_lock_(std::move(sleep_lock)) {}
    // On the user-interface thread, once the worker no longer runs.
    void ReleaseSleepLock() { sleep_lock_.reset(); }
    void Log(LogKind kind, const std::string& text) override;
    void Progress(int percent) override;
    void RemainingSeconds(int seconds) override;
    void ShowError(const std::string& message) override;
    bool AskImport() override;
    void Ended(bool success) override;

   private:
    AnalysisEvents& target_;
    WorkerCalls& calls_;
    // Used on the user-interface thread only.
    std::unique_ptr<platform::SleepLock> sleep_lock_;
  };

  void Run();

  AnalysisControl control_;
  HandedOver events_;
  AnalysisWorker worker_;
  WorkerCalls& calls_;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace wizard
