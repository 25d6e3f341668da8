#include "cli/queue_commands.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <filesystem>

#include "cli/json_text.h"
#include "cli/terminal_messages.h"
#include "queue/encoder_control.h"
#include "queue/job_file.h"
#include "queue/job_runner.h"
#include "queue/job_store.h"
#include "queue/queue_edits.h"
#include "queue/run_messages.h"

namespace cli {

namespace {

const char* StateName(queue::JobState state) {
  switch (state) {
    case queue::JobState::Pending:
      return "pending";
    case queue::JobState::Running:
      return "running";
    case queue::JobState::Done:
      return "done";
    case queue::JobState::Broken:
      return "broken";
  }
  return "broken";
}

std::string JsonTime(const std::optional<queue::HoursMinutes>& time) {
  return time ? JsonString(queue::FormatHoursMinutes(*time)) : "null";
}

// The queue runner's events as terminal lines and a progress bar.
class TerminalRunnerObserver : public queue::RunnerObserver {
 public:
  TerminalRunnerObserver(const queue::JobRunner& runner, ProgressPrinter& progress)
      : runner_(runner), progress_(progress) {}

  void JobStarted(size_t row) override {
    name_ = runner_.Jobs().Jobs().at(row).Name;
    progress_.Message("Encoding job " + name_);
  }
  void VolumeStarted(int volume, int volumes) override {
    label_ = name_ + ": volume " + std::to_string(volume) + " of " + std::to_string(volumes);
    progress_.Update({0, std::nullopt, label_});
  }
  void ProgressChanged(double volume_percent, double) override {
    progress_.Update({volume_percent, SecondsLeft(), label_});
  }
  void RowChanged(size_t row) override {
    // The runner writes the job's time left into its row as it goes.
    const auto& jobs = runner_.Jobs().Jobs();
    if (row < jobs.size() && jobs[row].Name == name_) left_ = jobs[row].Left;
  }
  void VolumeFinished(size_t, int volume, int volumes) override {
    progress_.Update({100, SecondsLeft(), label_});
    progress_.Message("Volume " + std::to_string(volume) + " of " + std::to_string(volumes) +
                      " encoded");
  }
  void JobEnded(size_t, const queue::JobOutcome& outcome) override {
    switch (outcome.end) {
      case queue::JobEnd::Completed:
        progress_.Message("Job " + name_ + " done");
        break;
      case queue::JobEnd::Stopped:
        progress_.Message("Job " + name_ + " stopped for the power-off; its other volumes wait");
        break;
      case queue::JobEnd::Aborted:
        all_completed_ = false;
        progress_.Message("Job " + name_ + " aborted; it can be encoded again later");
        break;
      case queue::JobEnd::Failed:
        all_completed_ = false;
        progress_.Close();
        std::fprintf(stderr, "%s\n",
                     ErrorLine(name_ + ": " +
                               (outcome.message.empty() ? "Encoding failed!" : outcome.message) +
                               (outcome.detail.empty() ? "" : " (" + outcome.detail + ")"))
                         .c_str());
        break;
    }
  }
  void ListSaveFailed() override {
    all_completed_ = false;
    progress_.Close();
    std::fprintf(stderr, "%s\n", ErrorLine("Error updating configuration!").c_str());
  }
  void RunEnded() override {
    progress_.Close();
    ended_ = true;
    if (loop_) loop_->quit();
  }
  void PowerOffCountdownChanged(std::optional<int> seconds_left) override {
    if (!seconds_left) {
      if (loop_) loop_->quit();
      return;
    }
    if (*seconds_left % 10 == 0 || *seconds_left <= 5)
      progress_.Message(queue::PowerOffCountdownText(*seconds_left) + " Ctrl-C keeps it on.");
  }

  // Until the run has ended, and a power-off after it has happened or was
  // cancelled.
  void WaitForTheEnd() {
    while (!ended_ || runner_.PowerOffPending()) {
      QEventLoop loop;
      loop_ = &loop;
      loop.exec();
      loop_ = nullptr;
    }
  }
  bool AllCompleted() const { return all_completed_; }

 private:
  std::optional<int> SecondsLeft() const {
    if (!left_) return std::nullopt;
    return (left_->hours * 60 + left_->minutes) * 60;
  }

  const queue::JobRunner& runner_;
  ProgressPrinter& progress_;
  std::string name_;
  std::string label_;
  std::optional<queue::HoursMinutes> left_;
  bool all_completed_ = true;
  bool ended_ = false;
  QEventLoop* loop_ = nullptr;
};

queue::PriorityClass PriorityOf(const std::string& name) {
  if (name == "idle") return queue::PriorityClass::Idle;
  if (name == "high") return queue::PriorityClass::High;
  if (name == "realtime") return queue::PriorityClass::Realtime;
  return queue::PriorityClass::Normal;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  std::string text = std::filesystem::absolute(path).lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

int ListJobs(platform::RegistryAccess& registry, ListFormat format, std::FILE* out) {
  queue::JobStore store(registry);
  store.LoadJobList();  // no list yet: an empty queue
  const auto& jobs = store.Jobs();
  if (format == ListFormat::Names) {
    for (const queue::JobEntry& job : jobs) std::fprintf(out, "%s\n", job.Name.c_str());
    return 0;
  }
  if (format == ListFormat::Json) {
    std::fprintf(out, "{\"formatVersion\": %d, \"jobs\": [", kJsonFormatVersion);
    for (size_t i = 0; i < jobs.size(); ++i) {
      const queue::JobEntry& j = jobs[i];
      std::fprintf(out,
                   "%s\n  {\"number\": %zu, \"name\": %s, \"date\": %s, \"state\": \"%s\", "
                   "\"volumesDone\": %s, \"volumes\": %s, \"time\": %s, \"left\": %s, "
                   "\"folder\": %s, \"problem\": %s}",
                   i ? "," : "", i + 1, JsonString(j.Name).c_str(), JsonString(j.Date).c_str(),
                   StateName(j.State),
                   j.Progress ? std::to_string(j.Progress->done).c_str() : "null",
                   j.Progress ? std::to_string(j.Progress->total).c_str() : "null",
                   JsonTime(j.Time).c_str(), JsonTime(j.Left).c_str(), JsonString(j.Path).c_str(),
                   j.Problem.empty() ? "null" : JsonString(j.Problem).c_str());
    }
    std::fprintf(out, "%s]}\n", jobs.empty() ? "" : "\n");
    return 0;
  }
  if (jobs.empty()) {
    std::fprintf(out, "The queue is empty.\n");
    return 0;
  }
  std::fprintf(out, "%3s  %-20s %-8s %-9s %-6s %-6s %s\n", "#", "Job", "State", "Progress", "Time",
               "Left", "Folder");
  for (size_t i = 0; i < jobs.size(); ++i) {
    const queue::JobEntry& j = jobs[i];
    std::fprintf(out, "%3zu  %-20s %-8s %-9s %-6s %-6s %s\n", i + 1, j.Name.c_str(),
                 StateName(j.State), queue::ProgressText(j.Progress).c_str(),
                 queue::TimeText(j.Time).c_str(), queue::TimeText(j.Left).c_str(), j.Path.c_str());
    // Why the job's last run failed, or why it is broken.
    if (!j.Problem.empty()) std::fprintf(out, "     %s\n", j.Problem.c_str());
  }
  return 0;
}

std::optional<size_t> FindJob(const std::vector<queue::JobEntry>& jobs, const std::string& job) {
  char* end = nullptr;
  const unsigned long number = std::strtoul(job.c_str(), &end, 10);
  if (!job.empty() && *end == '\0' && number >= 1 && number <= jobs.size()) return number - 1;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (jobs[i].Name == job) return i;
  }
  std::error_code ignored;
  const auto wanted = std::filesystem::weakly_canonical(job, ignored);
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (std::filesystem::weakly_canonical(jobs[i].Path, ignored) == wanted) return i;
  }
  return std::nullopt;
}

int EncodeJobs(const EncodeArguments& arguments, platform::RegistryAccess& registry,
               const std::string& encoder_path, ProgressPrinter& progress,
               const InterruptHook& interrupts) {
  queue::JobRunner runner(registry, std::make_unique<queue::TKVNEncoder>(),
                          queue::MakeRunnerClock(), encoder_path);
  TerminalRunnerObserver observer(runner, progress);
  runner.SetObserver(&observer);
  if (!runner.LoadList()) {
    std::fprintf(stderr, "%s\n", ErrorLine("Unable to initialize registry entries.").c_str());
    return 1;
  }
  if (arguments.Priority) runner.SetPriority(PriorityOf(*arguments.Priority));
  if (arguments.Shutdown != ShutdownChoice::None) {
    runner.SetShutdownEnabled(true);
    switch (arguments.Shutdown) {
      case ShutdownChoice::AfterJobs:
        runner.SetShutdownChoice(queue::ShutdownChoice::Jobs);
        runner.SetShutdownCount(queue::ShutdownChoice::Jobs, arguments.ShutdownCount);
        break;
      case ShutdownChoice::AfterVolumes:
        runner.SetShutdownChoice(queue::ShutdownChoice::Volumes);
        runner.SetShutdownCount(queue::ShutdownChoice::Volumes, arguments.ShutdownCount);
        break;
      default:
        runner.SetShutdownChoice(queue::ShutdownChoice::All);
    }
    runner.NormaliseShutdown();
  }

  bool started = false;
  if (arguments.All) {
    started = runner.EncodeAll();
    if (!started) {
      progress.Message("No job is pending.");
      return 0;
    }
  } else {
    const auto row = FindJob(runner.Jobs().Jobs(), arguments.Job);
    if (!row) {
      std::fprintf(stderr, "%s\n",
                   ErrorLine("JOB: no job '" + arguments.Job + "' in the queue").c_str());
      return 2;
    }
    if (runner.Jobs().Jobs()[*row].State != queue::JobState::Pending) {
      std::fprintf(
          stderr, "%s\n",
          ErrorLine("JOB: '" + runner.Jobs().Jobs()[*row].Name + "' is not pending").c_str());
      return 1;
    }
    started = runner.EncodeJob(*row);
  }
  if (!started) return 1;
  interrupts([&runner] {
    if (runner.Running())
      runner.Abort();
    else
      runner.CancelPowerOff();
  });
  observer.WaitForTheEnd();
  interrupts(nullptr);
  return observer.AllCompleted() ? 0 : 1;
}

namespace {

// The list's changes that a terminal reports: only a list that could not be
// stored.
class EditObserver : public queue::RunnerObserver {
 public:
  void ListSaveFailed() override {
    failed_ = true;
    std::fprintf(stderr, "%s\n", ErrorLine("Error updating configuration!").c_str());
  }
  bool Failed() const { return failed_; }

 private:
  bool failed_ = false;
};

int Refused(const std::string& text) {
  std::fprintf(stderr, "%s\n", ErrorLine(text).c_str());
  return 1;
}

int MoveJob(queue::JobRunner& runner, size_t row, MoveWhere where, std::FILE* out) {
  const std::string name = runner.Jobs().Jobs()[row].Name;
  const size_t last = runner.Jobs().Jobs().size() - 1;
  const bool up = where == MoveWhere::Up || where == MoveWhere::First;
  // Up and Down are greyed at the ends of the list; so is a move past them.
  if (up && !queue::CanMoveUp(runner, row)) return Refused("'" + name + "' is first in the queue");
  if (!up && !queue::CanMoveDown(runner, row))
    return Refused("'" + name + "' is last in the queue");
  const size_t target = where == MoveWhere::Up      ? row - 1
                        : where == MoveWhere::Down  ? row + 1
                        : where == MoveWhere::First ? 0
                                                    : last;
  const size_t now = queue::MoveJobTo(runner, row, target);
  std::fprintf(out, "'%s' is number %zu of %zu in the queue.\n", name.c_str(), now + 1, last + 1);
  return now == target ? 0 : 1;
}

}  // namespace

int EditQueue(const CliRequest& request, platform::RegistryAccess& registry, std::FILE* out) {
  // The runner holds the list and its commands; no encoder is started here.
  queue::JobRunner runner(registry, std::make_unique<queue::TKVNEncoder>(),
                          queue::MakeRunnerClock(), std::string());
  EditObserver observer;
  runner.SetObserver(&observer);
  if (!runner.LoadList()) return Refused("Unable to initialize registry entries.");

  int status = 0;
  if (request.Command == CommandKind::Add) {
    const std::string folder = AbsolutePath(request.Edit.Folder);
    const queue::AddOutcome outcome = queue::AddJobFolder(runner, folder, nullptr);
    if (outcome == queue::AddOutcome::Added) {
      const queue::JobEntry& job = runner.Jobs().Jobs().back();
      std::fprintf(out, "Job %s is in the queue as number %zu: %s\n", job.Name.c_str(),
                   runner.Jobs().Jobs().size(), job.Path.c_str());
    }
    status =
        outcome == queue::AddOutcome::Added || outcome == queue::AddOutcome::AlreadyListed ? 0 : 1;
  } else {
    const auto row = FindJob(runner.Jobs().Jobs(), request.Edit.Job);
    if (!row) {
      std::fprintf(stderr, "%s\n",
                   ErrorLine("JOB: no job '" + request.Edit.Job + "' in the queue").c_str());
      return 2;
    }
    if (request.Command == CommandKind::Move) {
      status = MoveJob(runner, *row, request.Edit.Where, out);
    } else {
      const queue::JobEntry job = runner.Jobs().Jobs()[*row];
      const queue::RemoveOutcome outcome = queue::RemoveJobAsking(runner, *row, nullptr);
      if (outcome == queue::RemoveOutcome::Removed)
        std::fprintf(out, "Job %s is off the queue; its folder stays: %s\n", job.Name.c_str(),
                     job.Path.c_str());
      status = outcome == queue::RemoveOutcome::Removed ? 0 : 1;
    }
  }
  return observer.Failed() ? 1 : status;
}

}  // namespace cli
