#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "queue/con_redir.h"
#include "queue/encoder_controller.h"
#include "queue/encoder_output.h"
#include "queue/priority_class.h"
#include "queue/ui_handover.h"

namespace queue {

// Runs the encoder on one volume's encoder job file in the current folder,
// turns its console lines into the volume's percentage and tells the runner
// how the volume ended. Create it on the user-interface thread: every
// notification reaches the EncoderEvents there, in order, from the event
// loop; those of a volume that is no longer the current one are dropped.
class TKVNEncoder : public CConRedir, public EncoderController {
 public:
  TKVNEncoder();
  ~TKVNEncoder() override;

  void SetEvents(EncoderEvents* events) override;
  void Close() override;
  bool StartVolume(const std::string& encoder_path, const std::string& job_file, int volume,
                   int volumes, PriorityClass priority) override;
  void RequestStop() override;
  bool BannerSeen() const override { return banner_seen_; }
  std::string FailureDetail() const override;
  bool ChildRunning() const override { return IsChildRunning(); }
  void SetChildPriority(PriorityClass priority) override;
  bool Pause() override { return SuspendChild(); }
  bool Resume() override { return ResumeChild(); }

  // An encoder that took the stop message but still runs after this long is
  // killed; the end is reported as an abort all the same.
  void SetStopGrace(std::chrono::milliseconds grace) { stop_grace_ = grace; }

  // The command line StartVolume starts the encoder with.
  static std::string CommandLine(const std::string& encoder_path, const std::string& job_file);

 protected:
  void OnStdOutLine(const std::string& line) override;
  void OnChildEnded() override;

 private:
  // Hands `work` of the calling worker's run to the user-interface thread.
  void Post(std::function<void()> work);
  void PostProgress(double percent, bool changed);
  void ReportEnd();
  bool IsRetired(uint64_t run) const { return run <= retired_runs_; }

  std::unique_ptr<QObject> ui_;  // context of the stop timer, on the user-interface thread
  UiHandover handover_;
  EncoderEvents* events_ = nullptr;
  std::chrono::milliseconds stop_grace_{30000};
  // Runs up to this number belong to earlier volumes.
  std::atomic<uint64_t> retired_runs_{0};

  std::atomic<int> volume_{0};
  std::atomic<int> volumes_{0};
  std::atomic<bool> two_pass_{false};
  std::atomic<int> encode_weight_{0};
  std::atomic<int> first_pass_weight_{0};
  std::atomic<int> last_encoding_percent_{-1};
  std::atomic<int> last_analysis_percent_{-1};
  std::atomic<bool> banner_seen_{false};
  std::atomic<bool> done_seen_{false};
  std::atomic<bool> abort_requested_{false};
  std::atomic<bool> error_seen_{false};
  std::atomic<int> encoder_pid_{0};
  mutable std::mutex detail_mutex_;
  std::string failure_detail_;  // guarded by detail_mutex_
};

}  // namespace queue
