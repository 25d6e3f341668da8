#include "queue/run_messages.h"

#include <cstdio>
#include <string>

#include "queue/job_file.h"

namespace queue {
namespace {

std::string Count(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string VolumesDone(const JobEntry& job) {
  const VolumeProgress progress = job.Progress.value_or(VolumeProgress{});
  char text[64];
  std::snprintf(text, sizeof text, "%d of %d %s encoded", progress.done, progress.total,
                progress.total == 1 ? "volume" : "volumes");
  return text;
}

}  // namespace

std::optional<platform::Notification> JobEndNotification(const JobEntry& job,
                                                         const JobOutcome& outcome) {
  switch (outcome.end) {
    case JobEnd::Completed:
      return platform::Notification{job.Name + " is done",
                                    VolumesDone(job) + " in " + TimeText(job.Time) + ".", false};
    case JobEnd::Stopped:
      return platform::Notification{job.Name + " stopped for the power-off",
                                    VolumesDone(job) + "; the rest waits in the queue.", false};
    case JobEnd::Failed:
      return platform::Notification{job.Name + " failed",
                                    outcome.message + " " + VolumesDone(job) + ".", true};
    case JobEnd::Aborted:
      break;
  }
  return std::nullopt;
}

platform::Notification BatchEndNotification(const BatchTally& tally, int pending) {
  std::string body = Count(tally.completed, "job", "jobs") + " done";
  if (tally.failed > 0) body += ", " + std::to_string(tally.failed) + " failed";
  if (tally.stopped > 0) body += ", " + std::to_string(tally.stopped) + " stopped";
  body += pending > 0 ? "; " + Count(pending, "job waits", "jobs wait") + " in the queue." : ".";
  return {pending == 0 ? "The queue is done" : "Batch encoding ended", body, tally.failed > 0};
}

std::string PowerOffCountdownText(int seconds_left) {
  return "The computer will be switched off in " + Count(seconds_left, "second", "seconds") + ".";
}

std::string QueueTimeLeftText(const std::optional<HoursMinutes>& left) {
  return "Time left for the queue: " + TimeText(left);
}

}  // namespace queue
