#pragma once

#include <optional>
#include <string>

namespace queue {

// The numbering is stored nowhere but kept for the state pictures' order.
enum class JobState { Pending = 0, Running = 1, Done = 2, Broken = 3 };

// Hours and minutes of an encoding time; hours may exceed 99.
struct HoursMinutes {
  int hours = 0;
  int minutes = 0;
  bool operator==(const HoursMinutes&) const = default;
};

// Volumes encoded so far and volumes in the job.
struct VolumeProgress {
  int done = 0;
  int total = 0;
  int Remaining() const { return total - done; }
  bool operator==(const VolumeProgress&) const = default;
};

// One row of the in-memory job list, in queue order. The values are kept as
// numbers; they become text only where they are shown or written.
struct JobEntry {
  std::string Name;
  std::string Date;
  std::optional<VolumeProgress> Progress;  // none: the JobFile could not be read
  std::optional<HoursMinutes> Time;        // none: nothing encoded yet
  std::optional<HoursMinutes> Left;        // none: no estimate
  std::string Path;  // the JobFolder, without trailing "/"; the job's identity
  JobState State = JobState::Pending;
  // Why the last run of the job failed, or why it is broken; empty: nothing
  // went wrong. A failure stays until the job is encoded again.
  std::string Problem;

  // Still has volumes to encode: Pending, or Running during a run.
  bool HasWorkLeft() const { return State == JobState::Pending || State == JobState::Running; }
  // The volumes a job with work left still has to encode (0 without progress).
  int VolumesLeft() const { return HasWorkLeft() && Progress ? Progress->Remaining() : 0; }
};

}  // namespace queue
