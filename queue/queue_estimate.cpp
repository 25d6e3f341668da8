#include "queue/queue_estimate.h"

#include <algorithm>
#include <limits>

namespace queue {

QueueWork WorkOfBatch(const JobWork& running, int running_volumes_left,
                      const std::vector<JobWork>& after, const ShutdownOptions& shutdown) {
  // One measure for every job: frames when the running job's are known (the
  // rate is measured on them), volumes otherwise.
  const bool in_frames = running.frames && *running.frames > 0 && running.volumes > 0;
  const double running_per_volume =
      in_frames ? static_cast<double>(*running.frames) / running.volumes : 1.0;
  QueueWork work;
  work.running_job = in_frames ? static_cast<double>(*running.frames) : running.volumes;

  int jobs_allowed = std::numeric_limits<int>::max();
  int volumes_allowed = std::numeric_limits<int>::max();
  if (shutdown.Counts(ShutdownChoice::Jobs)) jobs_allowed = shutdown.jobs.position - 1;
  if (shutdown.Counts(ShutdownChoice::Volumes))
    volumes_allowed = shutdown.volumes.position - running_volumes_left;
  for (const JobWork& job : after) {
    if (jobs_allowed <= 0 || volumes_allowed <= 0) break;
    const int volumes = std::min(job.volumes_left, volumes_allowed);
    double per_volume = running_per_volume;
    if (in_frames && job.frames && *job.frames > 0 && job.volumes > 0)
      per_volume = static_cast<double>(*job.frames) / job.volumes;
    work.after += volumes * per_volume;
    jobs_allowed -= 1;
    volumes_allowed -= volumes;
  }
  return work;
}

std::optional<int> QueueSecondsLeft(const RateSample& sample, int elapsed, const QueueWork& work) {
  if (sample.job_percent <= 0.01 || sample.seconds < 1 || work.running_job <= 0)
    return std::nullopt;
  const double d = elapsed;
  // As for the job's own estimate: the percentage the job would stand at
  // now at the sampled rate, and the rest of the job at that rate.
  const double e = d * sample.job_percent / sample.seconds;
  if (e <= 0.01) return std::nullopt;
  const double rest = std::max(d * (100.0 - e) / e, 0.0);
  // The work after the job at the job's rate of work per second.
  const double rate = sample.job_percent / 100.0 * work.running_job / sample.seconds;
  const double seconds = rest + work.after / rate;
  if (seconds >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(seconds);
}

}  // namespace queue
