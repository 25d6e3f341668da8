#include "wizard/analysis_control.h"

#include "tessmar/vob_list.h"

namespace wizard {

bool AnalysisControl::LibraryRunning() {
  return std::atomic_ref<uint8_t>(status_.running).load(std::memory_order_acquire) != 0;
}

float AnalysisControl::LibraryPercent() {
  return std::atomic_ref<float>(status_.percent).load(std::memory_order_acquire);
}

void AnalysisControl::Pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (paused_) return;
  paused_ = true;
  // A worker that does not park in time keeps running until the next
  // checkpoint of the analysis worker; the run goes on after Resume either way.
  if (LibraryRunning()) TessmarSuspend(&status_);
}

void AnalysisControl::Resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!paused_) return;
  paused_ = false;
  changed_.notify_all();
  if (LibraryRunning() && std::atomic_ref<uint8_t>(status_.suspended).load())
    TessmarResume(&status_);
}

void AnalysisControl::RequestStop() {
  bool starting = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_.store(true, std::memory_order_release);
    changed_.notify_all();
    starting = starting_;
  }
  // A run being started may be in its probe, which reads until it finds a
  // picture: the stop ends the probe, and the run it starts ends at once.
  if (starting) TessmarStop(&status_);
}

bool AnalysisControl::Checkpoint() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !paused_ || StopRequested(); });
  return !StopRequested();
}

void AnalysisControl::Wait(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, duration, [this] { return StopRequested(); });
}

int32_t AnalysisControl::StartIndexRun(const std::vector<std::string>& files,
                                       const std::string& out_base) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !paused_ || StopRequested(); });
    if (StopRequested()) return -1;
    starting_ = true;
  }
  // Not under the lock: the probe inside Tessmar may take long, and a pause
  // or a stop asked for meanwhile must not wait for it.
  const tessmar::VobList list(files);
  const int32_t result = Tessmar(list.Files(), out_base.c_str(), 1, 1, &status_);
  std::lock_guard<std::mutex> lock(mutex_);
  starting_ = false;
  // A pause asked for during the start finds the run only now.
  if (result == 0 && paused_ && LibraryRunning()) TessmarSuspend(&status_);
  return result;
}

void AnalysisControl::StopLibrary() {
  // TessmarStop resumes a suspended run itself; the lock keeps a pause from
  // suspending it again meanwhile.
  std::lock_guard<std::mutex> lock(mutex_);
  if (LibraryRunning()) TessmarStop(&status_);
}

}  // namespace wizard
