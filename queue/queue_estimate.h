#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "queue/job_entry.h"
#include "queue/run_progress.h"
#include "queue/shutdown_options.h"

namespace queue {

// The work of a job still to encode in a batch: its volumes left and the
// frames of its whole title (none when they cannot be read).
struct JobWork {
  int volumes_left = 0;
  int volumes = 0;
  std::optional<int64_t> frames;
};

// The work measure of the running job and of the jobs the batch still takes
// after it, in frames; where a job's frames are unknown it counts as the
// running job's frames per volume, and where those are unknown too every
// volume counts as one.
struct QueueWork {
  double running_job = 0;  // the running job's whole title
  double after = 0;        // the volumes left of the jobs after it
};

// `after` are the jobs the batch takes after the running one, in order. The
// power-off counts cut them short: a job count stops the batch after that
// many jobs, a volume count after that many volumes (the running job's
// volumes left, `running_volumes_left`, counted first).
QueueWork WorkOfBatch(const JobWork& running, int running_volumes_left,
                      const std::vector<JobWork>& after, const ShutdownOptions& shutdown);

// Seconds the rest of the running job and the work after it take at the
// running job's sampled rate, `elapsed` seconds into the job; none while no
// usable sample exists.
std::optional<int> QueueSecondsLeft(const RateSample& sample, int elapsed, const QueueWork& work);

}  // namespace queue
