#pragma once

#include <optional>
#include <string>

#include "platform/notifications.h"
#include "queue/job_entry.h"
#include "queue/job_runner.h"

namespace queue {

// The texts of what goes on around a run: the desktop's notifications, the
// power-off's countdown and a batch's time left.

// What the desktop is told when a job's turn in a run ends; nothing after an
// abort, which the user asked for.
std::optional<platform::Notification> JobEndNotification(const JobEntry& job,
                                                         const JobOutcome& outcome);

// How the jobs of a batch ended.
struct BatchTally {
  int completed = 0;
  int failed = 0;
  int stopped = 0;  // stopped by the power-off's volume count with volumes left
};

// What the desktop is told when a batch ends; `pending` rows are left in the
// queue.
platform::Notification BatchEndNotification(const BatchTally& tally, int pending);

// "The computer will be switched off in 57 seconds."
std::string PowerOffCountdownText(int seconds_left);

// "Time left for the queue: 05:12", or "--" for a time not known yet.
std::string QueueTimeLeftText(const std::optional<HoursMinutes>& left);

}  // namespace queue
