#include "queue/job_runner.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/file_system.h"
#include "platform/notifications.h"
#include "platform/power_off.h"
#include "platform/sounds.h"
#include "queue/folder_tree.h"
#include "queue/job_file.h"
#include "queue/job_frames.h"
#include "queue/job_problem.h"
#include "queue/queue_estimate.h"
#include "queue/run_messages.h"

namespace queue {
namespace {

// A finished volume whose record cannot be kept fails the job with this.
constexpr char kUnableToSaveJobStatus[] = "Unable to save job!";

// Writes the job's JobFile; when it cannot, says why in the system's words.
std::optional<std::string> WriteJobFileOrSayWhy(const JobEntry& job) {
  errno = 0;
  if (WriteJobFile(job)) return std::nullopt;
  const int error = errno;
  std::string why = "cannot write \"" + JobFilePathOf(job.Path) + "\"";
  if (error != 0) why += std::string(": ") + std::strerror(error);
  return why;
}

}  // namespace

JobRunner::JobRunner(platform::RegistryAccess& registry, std::unique_ptr<EncoderController> encoder,
                     std::unique_ptr<RunnerClock> clock, std::string encoder_path)
    : store_(registry),
      encoder_(std::move(encoder)),
      clock_(std::move(clock)),
      encoder_path_(std::move(encoder_path)) {
  encoder_->SetEvents(this);
}

JobRunner::~JobRunner() {
  clock_->StopTicks();
  encoder_->SetEvents(nullptr);
  encoder_->Close();
}

void JobRunner::SetObserver(RunnerObserver* observer) {
  observer_ = observer ? observer : &no_observer_;
}

// --- the list --------------------------------------------------------------

bool JobRunner::LoadList() {
  if (running_) return true;
  if (!store_.InitJobRegistry() || !store_.LoadJobList()) return false;
  RemoveWorkFilesLeftByDoneJobs();
  observer_->ListLoaded();
  shutdown_.jobs.maximum = store_.PendingJobCount();
  shutdown_.volumes.maximum = store_.RemainingVolumeCount();
  NormaliseShutdown();
  return true;
}

void JobRunner::RemoveWorkFilesLeftByDoneJobs() {
  // A program that ended while it removed a done job's work files left the
  // rest behind: they go now, as they would have then. A folder whose
  // status file is another job's, or says work is left, stays.
  for (const JobEntry& job : store_.Jobs()) {
    const std::string data = JobDataFolderOf(job.Path);
    if (job.State != JobState::Done || !platform::DirectoryExists(data)) continue;
    const std::optional<JobFileLines> lines = ReadJobFileLines(JobFilePathOf(job.Path));
    const std::optional<JobProgress> progress = lines ? ValidateJobFileLines(*lines) : std::nullopt;
    const bool done = progress && lines->name == job.Name && lines->date == job.Date &&
                      progress->volumes.done == progress->volumes.total;
    if (done || (!lines && !platform::FileExists(JobFilePathOf(job.Path)))) RemoveFolderTree(data);
  }
}

bool JobRunner::SaveList() {
  if (store_.SaveJobList()) return true;
  observer_->ListSaveFailed();
  return false;
}

JobStore::AddResult JobRunner::AddJobFromFolder(const std::string& folder) {
  const JobStore::AddResult result = store_.AddJobFromFolder(folder);
  if (!result.valid || result.already_listed) return result;
  if (!result.saved) observer_->ListSaveFailed();
  const size_t row = store_.Jobs().size() - 1;
  observer_->RowAdded(row);
  const JobEntry& job = store_.Jobs()[row];
  if (job.State == JobState::Pending) {
    shutdown_.jobs.maximum += 1;
    shutdown_.volumes.maximum += job.VolumesLeft();
    NormaliseShutdown();
  }
  return result;
}

bool JobRunner::RemoveJob(size_t row) {
  if (running_ || row >= store_.Jobs().size()) return false;
  const JobEntry& job = store_.Jobs()[row];
  if (job.State == JobState::Pending) {
    shutdown_.jobs.maximum -= 1;
    shutdown_.volumes.maximum -= job.VolumesLeft();
    NormaliseShutdown();
  }
  // The job's folders on disk stay untouched.
  const bool saved = store_.RemoveJob(row);
  observer_->RowRemoved(row);
  if (!saved) observer_->ListSaveFailed();
  return true;
}

bool JobRunner::SwapJobs(size_t first, size_t second) {
  const size_t rows = store_.Jobs().size();
  if (running_ || first >= rows || second >= rows || first == second) return false;
  const bool saved = store_.SwapJobs(first, second);
  observer_->RowsSwapped(first, second);
  if (!saved) observer_->ListSaveFailed();
  return true;
}

// --- options ---------------------------------------------------------------

void JobRunner::SetShutdownCount(ShutdownChoice counter, int position) {
  if (counter == ShutdownChoice::Jobs) shutdown_.jobs.SetPosition(position);
  if (counter == ShutdownChoice::Volumes) shutdown_.volumes.SetPosition(position);
}

void JobRunner::NormaliseShutdown() {
  shutdown_.Normalise();
  observer_->ShutdownCountsChanged();
}

void JobRunner::SetPriority(PriorityClass priority) {
  priority_ = priority;
  if (encoder_->ChildRunning()) encoder_->SetChildPriority(priority);
}

// --- runs ------------------------------------------------------------------

std::optional<size_t> JobRunner::RunningRow() const {
  if (!running_ || running_path_.empty()) return std::nullopt;
  return store_.IndexOf(running_path_);
}

std::optional<size_t> JobRunner::FirstPendingRowBelow(std::optional<size_t> row) const {
  for (size_t i = row ? *row + 1 : 0; i < store_.Jobs().size(); ++i)
    if (store_.Jobs()[i].State == JobState::Pending) return i;
  return std::nullopt;
}

int JobRunner::ElapsedSeconds() const {
  // A pause that goes on does not count (one that ended moved the start).
  const RunnerClock::TimePoint now = paused_ ? pause_start_ : clock_->Now();
  const auto taken = std::chrono::duration_cast<std::chrono::seconds>(now - job_start_);
  return static_cast<int>(taken.count()) + time_base_;
}

void JobRunner::BeginRun(bool batch) {
  // Somebody is at the desk: a power-off that still counts down is off.
  CancelPowerOff();
  running_ = true;
  run_completed_ = run_failed_ = run_stopped_ = 0;
  run_aborted_ = false;
  job_frames_.clear();
  batch_mode_ = batch;
  saved_job_max_ = shutdown_.jobs.maximum;
  saved_vol_max_ = shutdown_.volumes.maximum;
  observer_->RunStarted();
}

bool JobRunner::EncodeJob(size_t row) {
  if (running_ || row >= store_.Jobs().size() || store_.Jobs()[row].State != JobState::Pending)
    return false;
  BeginRun(false);
  // A single job: the options count within this job only.
  shutdown_.jobs.maximum = 1;
  shutdown_.volumes.maximum = store_.Jobs()[row].VolumesLeft();
  NormaliseShutdown();
  StartJob(row);
  return true;
}

bool JobRunner::EncodeAll() {
  if (running_) return false;
  const std::optional<size_t> row = FirstPendingRowBelow(std::nullopt);
  if (!row) return false;
  BeginRun(true);
  StartJob(*row);
  return true;
}

void JobRunner::StartJob(size_t row) {
  JobEntry& job = store_.Job(row);
  running_path_ = job.Path;
  job.State = JobState::Running;
  // An earlier failure is history once the job runs again.
  job.Problem.clear();
  // The encoder runs in the job's data folder ("pid", "avsdebug").
  platform::SetCurrentFolder(JobDataFolderOf(job.Path));
  const VolumeProgress progress = job.Progress.value_or(VolumeProgress{});
  time_at_last_volume_ = job.Time;
  left_at_last_volume_ = job.Left;
  time_base_ = job.Time ? SecondsOf(*job.Time) : 0;
  elapsed_counter_ = time_base_;
  if (!job.Time) job.Time = HoursMinutes{};
  job_start_ = clock_->Now();
  rate_sample_ = RateSample{};
  observer_->JobStarted(row);
  clock_->StartTicks(kTickInterval, [this] { Tick(); });
  StartVolumeRun(progress.done + 1, progress.total);
}

void JobRunner::StartVolumeRun(int volume, int volumes) {
  volume_ = volume;
  volumes_ = volumes;
  volume_percent_ = 0.0;
  observer_->VolumeStarted(volume, volumes);
  HoldSleepLock();
  encoder_->Close();
  if (!encoder_->StartVolume(encoder_path_, EncoderJobFileName(volume), volume, volumes, priority_))
    RunStopped(true, "Unable to initialize encoder!");
}

void JobRunner::ShowTitles(std::optional<double> job_percent) {
  observer_->TitlesChanged(job_percent);
}

void JobRunner::ShowVolumeProgress(double percent, bool changed) {
  if (!RunningRow()) return;
  volume_percent_ = percent;
  job_percent_ = JobPercent(volume_, volumes_, percent);
  observer_->ProgressChanged(volume_percent_, job_percent_);
  ShowTitles(TitlesShowPercent(job_percent_) ? std::optional(job_percent_) : std::nullopt);
  if (changed) rate_sample_ = RateSample{job_percent_, ElapsedSeconds()};
}

void JobRunner::Tick() {
  const std::optional<size_t> row = RunningRow();
  if (!row) return;
  // The shown time steps by the tick from the job's stored time; the
  // estimate reads the clock.
  elapsed_counter_ += static_cast<int>(kTickInterval.count());
  JobEntry& job = store_.Job(*row);
  job.Time = HoursMinutesOf(elapsed_counter_);
  if (const std::optional<HoursMinutes> left = EstimateTimeLeft(rate_sample_, ElapsedSeconds()))
    job.Left = left;
  observer_->RowChanged(*row);
  ShowQueueTimeLeft();
}

void JobRunner::VolumeFinished(int volume, int volumes) {
  const std::optional<size_t> row = RunningRow();
  if (!row) return;
  // The volume ended just as the pause came.
  if (paused_) LeavePause();
  const bool last = volume == volumes;
  JobEntry& job = store_.Job(*row);
  const std::optional<VolumeProgress> before = job.Progress;
  const std::optional<HoursMinutes> left_before = job.Left;
  job.Progress = VolumeProgress{volume, volumes};
  if (last) job.Left.reset();
  // A volume the JobFile does not record would be encoded again after the
  // next start, and the next ones would be lost the same way (a full disk):
  // the job fails here, its file as after the last recorded volume.
  if (const std::optional<std::string> unsaved = WriteJobFileOrSayWhy(job)) {
    job.Progress = before;
    job.Left = left_before;
    StopRun(true, kUnableToSaveJobStatus, *unsaved);
    return;
  }
  observer_->RowChanged(*row);
  const bool volume_stop = shutdown_.CountFinishedVolume();
  saved_vol_max_ -= 1;
  // Between two volumes of a job the titles keep the finished volume's
  // percentage until the next volume reports; any other end puts them back.
  if (last || volume_stop) ShowTitles(std::nullopt);
  time_at_last_volume_ = job.Time;
  left_at_last_volume_ = job.Left;
  if (last) {
    job.State = JobState::Done;
    // The list says done before the work files go, so that a crash while
    // they are removed leaves a done job, not one without its JobFile; a
    // list that cannot be saved keeps them, and the JobFile says done.
    platform::SetCurrentFolder(job.Path);
    if (SaveList()) RemoveFolderTree(JobDataFolderOf(job.Path));
  }
  observer_->RowChanged(*row);
  observer_->VolumeFinished(*row, volume, volumes);

  if (volume_stop) {
    if (!last) {
      store_.Job(*row).State = JobState::Pending;
      observer_->RowChanged(*row);
    }
    clock_->StopTicks();
    NormaliseShutdown();
    platform::TheSounds().Play(platform::SystemSound::Default);
    EndJob(*row, {last ? JobEnd::Completed : JobEnd::Stopped, {}, false, {}});
    ReturnToIdle();
    PowerOff();
    return;
  }
  if (last) {
    clock_->StopTicks();
    const bool job_stop = shutdown_.CountCompletedJob();
    saved_job_max_ -= 1;
    NormaliseShutdown();
    EndJob(*row, {JobEnd::Completed, {}, false, {}});
    platform::TheSounds().Play(platform::SystemSound::Default);
    if (batch_mode_ && !job_stop) {
      if (const std::optional<size_t> next = FirstPendingRowBelow(*row)) {
        StartJob(*next);
        return;
      }
    }
    ReturnToIdle();
    if (job_stop || shutdown_.Counts(ShutdownChoice::All)) PowerOff();
    return;
  }
  NormaliseShutdown();
  StartVolumeRun(volume + 1, volumes);
}

void JobRunner::RunStopped(bool failed, const std::string& message) {
  StopRun(failed, message, failed ? encoder_->FailureDetail() : std::string());
}

void JobRunner::StopRun(bool failed, const std::string& message, const std::string& detail) {
  const std::optional<size_t> row = RunningRow();
  if (!row) return;
  if (paused_) LeavePause();
  ShowTitles(std::nullopt);
  clock_->StopTicks();
  bool stop = false;
  if (!failed) {
    store_.Job(*row).State = JobState::Pending;
    platform::TheSounds().Play(platform::SystemSound::Exclamation);
    EndJob(*row, {JobEnd::Aborted, {}, false, {}});
  } else {
    // Unattended runs only sound the failure.
    const bool attended = !batch_mode_ && !shutdown_.enabled;
    if (!attended) platform::TheSounds().Play(platform::SystemSound::Error);
    EndJob(*row, {JobEnd::Failed, message, attended, detail});
    JobEntry& job = store_.Job(*row);
    job.State = JobState::Pending;
    // The row keeps why it failed, in the encoder's or the system's words
    // too (a full disk), also across a restart, for whoever comes back to an
    // unattended run.
    job.Problem =
        FailureRecord(volume_, volumes_, detail.empty() ? message : message + " (" + detail + ")");
    SaveList();
    stop = shutdown_.CountFailedJob(job.VolumesLeft());
    NormaliseShutdown();
  }
  observer_->RowChanged(*row);
  if (failed && batch_mode_ && !stop) {
    // The failed row keeps the times the last tick gave it.
    if (const std::optional<size_t> next = FirstPendingRowBelow(*row)) {
      StartJob(*next);
      return;
    }
  }
  JobEntry& job = store_.Job(*row);
  job.Time = time_at_last_volume_;
  job.Left = left_at_last_volume_;
  observer_->RowChanged(*row);
  ReturnToIdle();
  if (stop || (failed && shutdown_.Counts(ShutdownChoice::All))) PowerOff();
}

void JobRunner::ReturnToIdle() {
  sleep_lock_.reset();
  // A batch the user aborted needs no news.
  if (batch_mode_ && !run_aborted_ && run_completed_ + run_failed_ + run_stopped_ > 0) {
    platform::TheNotifications().Notify(BatchEndNotification(
        {run_completed_, run_failed_, run_stopped_}, store_.PendingJobCount()));
  }
  running_ = false;
  batch_mode_ = false;
  running_path_.clear();
  shutdown_.volumes.maximum = saved_vol_max_;
  shutdown_.jobs.maximum = saved_job_max_;
  NormaliseShutdown();
  observer_->RunEnded();
}

void JobRunner::Abort() {
  // A stopped encoder cannot take the stop message.
  if (paused_) Resume();
  // Until the encoder has announced itself it cannot be asked to stop; its
  // notifications are still handled, so a run that ends meanwhile ends here.
  while (running_ && !encoder_->BannerSeen()) clock_->Wait(kBannerPoll);
  if (running_) encoder_->RequestStop();
}

void JobRunner::PowerOff() {
  // Somebody still at the desk may cancel it; when nobody answers it
  // happens.
  power_off_left_ = static_cast<int>(power_off_countdown_.count());
  observer_->PowerOffCountdownChanged(power_off_left_);
  clock_->StartTicks(kCountdownStep, [this] { CountDownPowerOff(); });
}

void JobRunner::CountDownPowerOff() {
  power_off_left_ -= static_cast<int>(kCountdownStep.count());
  if (power_off_left_ > 0) {
    observer_->PowerOffCountdownChanged(power_off_left_);
    return;
  }
  power_off_left_ = 0;
  clock_->StopTicks();
  observer_->PowerOffCountdownChanged(std::nullopt);
  // A refused power-off leaves the program idle; nothing is shown.
  platform::ThePowerOff().Request(nullptr);
}

void JobRunner::CancelPowerOff() {
  if (power_off_left_ == 0) return;
  power_off_left_ = 0;
  clock_->StopTicks();
  observer_->PowerOffCountdownChanged(std::nullopt);
}

// --- pause -----------------------------------------------------------------

bool JobRunner::Pause() {
  if (!RunningRow() || paused_ || !encoder_->Pause()) return false;
  paused_ = true;
  pause_start_ = clock_->Now();
  clock_->StopTicks();
  sleep_lock_.reset();
  observer_->PauseChanged(true);
  return true;
}

bool JobRunner::Resume() {
  if (!paused_) return false;
  // An encoder that ended meanwhile is reported as ended; the pause is over
  // all the same.
  encoder_->Resume();
  LeavePause();
  HoldSleepLock();
  return true;
}

void JobRunner::LeavePause() {
  // The job started later by the length of the pause.
  job_start_ += clock_->Now() - pause_start_;
  paused_ = false;
  clock_->StartTicks(kTickInterval, [this] { Tick(); });
  observer_->PauseChanged(false);
}

// --- what the desktop learns -----------------------------------------------

void JobRunner::HoldSleepLock() {
  const std::optional<size_t> row = RunningRow();
  if (!row) return;
  const std::string reason = "Encoding job " + store_.Jobs()[*row].Name + ", volume " +
                             std::to_string(volume_) + " of " + std::to_string(volumes_);
  // The new lock is taken before the old one goes, so the computer is never
  // left unguarded between two volumes.
  std::unique_ptr<platform::SleepLock> lock = platform::TheSleepInhibitor().Inhibit(reason);
  sleep_lock_ = std::move(lock);
}

void JobRunner::EndJob(size_t row, const JobOutcome& outcome) {
  if (outcome.end == JobEnd::Completed) ++run_completed_;
  if (outcome.end == JobEnd::Failed) ++run_failed_;
  if (outcome.end == JobEnd::Stopped) ++run_stopped_;
  run_aborted_ = outcome.end == JobEnd::Aborted;
  observer_->JobEnded(row, outcome);
  if (const auto notification = JobEndNotification(store_.Jobs()[row], outcome))
    platform::TheNotifications().Notify(*notification);
}

void JobRunner::ShowQueueTimeLeft() {
  const std::optional<size_t> row = RunningRow();
  if (!batch_mode_ || !row) return;
  auto work_of = [this](const JobEntry& job) {
    auto known = job_frames_.find(job.Path);
    if (known == job_frames_.end())
      known = job_frames_.emplace(job.Path, JobFrameCount(job.Path)).first;
    return JobWork{job.VolumesLeft(), job.Progress ? job.Progress->total : 0, known->second};
  };
  const JobWork running = work_of(store_.Jobs()[*row]);
  std::vector<JobWork> after;
  for (size_t i = *row + 1; i < store_.Jobs().size(); ++i)
    if (store_.Jobs()[i].State == JobState::Pending) after.push_back(work_of(store_.Jobs()[i]));
  const QueueWork work = WorkOfBatch(running, volumes_ - volume_ + 1, after, shutdown_);
  const std::optional<int> seconds = QueueSecondsLeft(rate_sample_, ElapsedSeconds(), work);
  observer_->QueueTimeLeftChanged(seconds ? std::optional(HoursMinutesOf(*seconds)) : std::nullopt);
}

}  // namespace queue
