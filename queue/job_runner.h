#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/registry_access.h"
#include "platform/sleep_inhibitor.h"
#include "queue/encoder_controller.h"
#include "queue/job_store.h"
#include "queue/priority_class.h"
#include "queue/run_progress.h"
#include "queue/runner_clock.h"
#include "queue/shutdown_options.h"

namespace queue {

// How a job's turn in a run ended.
enum class JobEnd {
  Completed,  // every volume is encoded
  Stopped,    // the volume count of the power-off was reached with volumes left
  Aborted,    // the user stopped the encoder
  Failed,     // the encoder could not start, or the volume did not finish
};

struct JobOutcome {
  JobEnd end = JobEnd::Completed;
  std::string message;    // Failed: what went wrong, as the user is told
  bool attended = false;  // Failed: show the message; unattended runs only sound the error
  std::string detail;     // Failed: why, in the encoder's or the system's words, when known
};

// What a front end (the queue window, a terminal) learns from the runner.
// Rows are indexes into JobRunner::Jobs() at the moment of the call. Every
// call comes on the thread that drives the runner; a front end shows state
// here and changes nothing of the runner from inside these calls.
class RunnerObserver {
 public:
  virtual ~RunnerObserver() = default;

  // The list.
  virtual void ListLoaded() {}
  virtual void RowAdded(size_t /*row*/) {}
  virtual void RowRemoved(size_t /*row*/) {}
  virtual void RowsSwapped(size_t /*first*/, size_t /*second*/) {}
  // A row's state, progress or times changed.
  virtual void RowChanged(size_t /*row*/) {}
  // The list could not be stored ("Error updating configuration!"); the
  // program cannot go on safely.
  virtual void ListSaveFailed() {}
  // The power-off counts or their maxima were changed and normalised.
  virtual void ShutdownCountsChanged() {}

  // A run: RunStarted, then per job JobStarted, per volume VolumeStarted,
  // ProgressChanged and VolumeFinished, then JobEnded; RunEnded when the
  // runner is idle again.
  virtual void RunStarted() {}
  virtual void JobStarted(size_t /*row*/) {}
  virtual void VolumeStarted(int /*volume*/, int /*volumes*/) {}
  // The running volume's and the job's percentages (0 to 100).
  virtual void ProgressChanged(double /*volume_percent*/, double /*job_percent*/) {}
  // The application's titles show the job's percentage (the texts of
  // EncodingTitle and EncodingCaptionSuffix), or their plain text (none).
  virtual void TitlesChanged(std::optional<double> /*job_percent*/) {}
  virtual void VolumeFinished(size_t /*row*/, int /*volume*/, int /*volumes*/) {}
  virtual void JobEnded(size_t /*row*/, const JobOutcome& /*outcome*/) {}
  virtual void RunEnded() {}

  // The running encoder was stopped (Pause) or goes on again.
  virtual void PauseChanged(bool /*paused*/) {}
  // A batch's time left: the rest of the running job and the jobs after it;
  // none while it cannot be told yet.
  virtual void QueueTimeLeftChanged(std::optional<HoursMinutes> /*left*/) {}
  // The power-off's countdown: the seconds left, then none when it is over
  // (cancelled, or the power-off was asked for).
  virtual void PowerOffCountdownChanged(std::optional<int> /*seconds_left*/) {}
};

// The queue and its runner, without any window: the job list with its
// commands, Encode and Batch Encode volume by volume through the encoder
// controller, the progress and time arithmetic, the JobFile after each
// volume, and the power-off counts and decision. It runs on one thread with
// an event loop (the encoder controller's notifications and the clock's
// ticks arrive there). The computer is kept awake while an encoder runs, the
// desktop is told when a job or a batch ends, and a power-off waits out a
// countdown that can be cancelled. The running job is followed by its folder, so no
// change of the list's order can make a volume's end land on another job;
// still, the list's order and contents are kept while a run goes on.
class JobRunner : private EncoderEvents {
 public:
  // The step of the shown elapsed time.
  static constexpr std::chrono::seconds kTickInterval{10};
  // How often Abort looks for the encoder's banner.
  static constexpr std::chrono::milliseconds kBannerPoll{50};
  // The power-off waits this long for somebody to cancel it, in steps of one
  // second.
  static constexpr std::chrono::seconds kPowerOffCountdown{60};
  static constexpr std::chrono::seconds kCountdownStep{1};

  JobRunner(platform::RegistryAccess& registry, std::unique_ptr<EncoderController> encoder,
            std::unique_ptr<RunnerClock> clock, std::string encoder_path);
  // Releasing the runner ends an encoder that still runs.
  ~JobRunner() override;
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  void SetObserver(RunnerObserver* observer);

  // --- the list --------------------------------------------------------
  const JobStore& Jobs() const { return store_; }
  // Checks and repairs the registry entries and loads the rows; false when
  // the entries cannot be initialised. The power-off maxima become the
  // queue's totals. Nothing is reloaded during a run.
  bool LoadList();
  // Stores the list; a failure is reported to the observer.
  bool SaveList();
  // Appends the job in `folder` (Add Job, the wizard's finish step).
  JobStore::AddResult AddJobFromFolder(const std::string& folder);
  // Remove and reorder; refused (false) while a run goes on.
  bool RemoveJob(size_t row);
  bool SwapJobs(size_t first, size_t second);

  // --- the power-off options ------------------------------------------
  const ShutdownOptions& Shutdown() const { return shutdown_; }
  void SetShutdownEnabled(bool enabled) { shutdown_.enabled = enabled; }
  void SetShutdownChoice(ShutdownChoice choice) { shutdown_.choice = choice; }
  // The user's count of jobs (Jobs) or volumes (Volumes).
  void SetShutdownCount(ShutdownChoice counter, int position);
  void NormaliseShutdown();

  // The priority class of the encoder, also of one that runs now.
  void SetPriority(PriorityClass priority);
  PriorityClass Priority() const { return priority_; }

  // --- runs ------------------------------------------------------------
  // Encode: the remaining volumes of `row`, which must be Pending.
  bool EncodeJob(size_t row);
  // Batch Encode: the first Pending row, then every Pending row below it.
  bool EncodeAll();
  // Stops the run: waits (through the clock) until the encoder has
  // announced itself, then asks it to stop; the run ends as aborted.
  void Abort();

  // Pause stops the running encoder with everything it started and lets the
  // computer sleep; Resume lets it go on. The pause counts neither in the
  // job's time nor in its estimate. False when there is nothing to stop or
  // nothing stopped.
  bool Pause();
  bool Resume();
  bool Paused() const { return paused_; }

  // The power-off's countdown after a run; a new run cancels it too.
  bool PowerOffPending() const { return power_off_left_ > 0; }
  // A front end that is driven by a script waits less.
  void SetPowerOffCountdown(std::chrono::seconds countdown) { power_off_countdown_ = countdown; }
  void CancelPowerOff();

  bool Running() const { return running_; }
  bool BatchMode() const { return batch_mode_; }
  std::optional<size_t> RunningRow() const;
  int Volume() const { return volume_; }
  int Volumes() const { return volumes_; }
  double VolumePercent() const { return volume_percent_; }
  double JobPercentNow() const { return job_percent_; }

 private:
  // EncoderEvents, on the runner's thread.
  void ShowVolumeProgress(double percent, bool changed) override;
  void VolumeFinished(int volume, int volumes) override;
  void RunStopped(bool failed, const std::string& message) override;
  // The volume did not finish; `detail` says why in the encoder's or the
  // system's words, when known.
  void StopRun(bool failed, const std::string& message, const std::string& detail);

  void RemoveWorkFilesLeftByDoneJobs();
  void BeginRun(bool batch);
  void StartJob(size_t row);
  void StartVolumeRun(int volume, int volumes);
  void Tick();
  void ReturnToIdle();
  void PowerOff();
  void CountDownPowerOff();
  void LeavePause();
  void HoldSleepLock();
  void EndJob(size_t row, const JobOutcome& outcome);
  void ShowQueueTimeLeft();
  void ShowTitles(std::optional<double> job_percent);
  std::optional<size_t> FirstPendingRowBelow(std::optional<size_t> row) const;
  int ElapsedSeconds() const;

  JobStore store_;
  std::unique_ptr<EncoderController> encoder_;
  std::unique_ptr<RunnerClock> clock_;
  std::string encoder_path_;
  RunnerObserver no_observer_;
  RunnerObserver* observer_ = &no_observer_;
  ShutdownOptions shutdown_;
  PriorityClass priority_ = PriorityClass::Normal;

  // Run state.
  bool running_ = false;
  bool batch_mode_ = false;
  std::string running_path_;  // the running job's folder
  int volume_ = 0;
  int volumes_ = 0;
  double volume_percent_ = 0.0;
  double job_percent_ = 0.0;
  RunnerClock::TimePoint job_start_{};
  int time_base_ = 0;        // seconds the job had taken before this start
  int elapsed_counter_ = 0;  // the elapsed seconds shown, in ticks
  std::optional<HoursMinutes> time_at_last_volume_, left_at_last_volume_;
  int saved_job_max_ = 0;
  int saved_vol_max_ = 0;
  RateSample rate_sample_;

  // Held while an encoder runs (not while it is paused).
  std::unique_ptr<platform::SleepLock> sleep_lock_;
  bool paused_ = false;
  RunnerClock::TimePoint pause_start_{};
  int power_off_left_ = 0;  // seconds; 0 when no power-off waits
  std::chrono::seconds power_off_countdown_ = kPowerOffCountdown;
  // Of the current run: how its jobs ended, and the frames of the jobs a
  // batch met (read once per run; the list does not change meanwhile).
  int run_completed_ = 0, run_failed_ = 0, run_stopped_ = 0;
  bool run_aborted_ = false;
  std::map<std::string, std::optional<int64_t>> job_frames_;
};

}  // namespace queue
