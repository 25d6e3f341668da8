#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tessmar/include/tessmar.h"

namespace wizard {

// The library's status block of an analysis and the controls the user's
// questions work with: pause and resume of the library's run and of the
// analysis worker, and the request to stop. The worker stands still at its
// next checkpoint while paused. Control calls come from any thread.
class AnalysisControl {
 public:
  TessmarStatus& Status() { return status_; }

  // The library's worker first, then the analysis worker.
  void Pause();
  // The analysis worker first, then the library's worker.
  void Resume();
  void RequestStop();

  bool StopRequested() const { return stop_.load(std::memory_order_acquire); }
  bool LibraryRunning();
  float LibraryPercent();

  // Worker side: waits while paused; false once a stop has been requested.
  bool Checkpoint();
  // Worker side: waits `duration` or until a stop is requested.
  void Wait(std::chrono::milliseconds duration);
  // Worker side: starts an index run into the status block unless a stop
  // has been requested. Pause and stop do not wait for the start: a pause
  // asked for meanwhile suspends the run once it has started, a stop ends
  // the library's probe at its next read. -1 when stopped before the start.
  int32_t StartIndexRun(const std::vector<std::string>& files, const std::string& out_base);
  // Worker side: stops the library's run if it still runs.
  void StopLibrary();

 private:
  TessmarStatus status_{};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool paused_ = false;
  bool starting_ = false;  // the worker is inside Tessmar
  std::atomic<bool> stop_{false};
};

}  // namespace wizard
