#include "queue/run_progress.h"

#include <algorithm>
#include <cmath>

namespace queue {

double JobPercent(int volume, int volumes, double volume_percent) {
  return ((volume - 1) * 100.0 + volume_percent) / std::max(volumes, 1);
}

bool TitlesShowPercent(double job_percent) {
  return std::ceil(job_percent) != 100.0;
}

int SecondsOf(const HoursMinutes& time) {
  return time.hours * 3600 + time.minutes * 60;
}

HoursMinutes HoursMinutesOf(int seconds) {
  const int hours = seconds / 3600;
  return {hours, seconds / 60 - hours * 60};
}

std::optional<HoursMinutes> EstimateTimeLeft(const RateSample& sample, int elapsed) {
  if (sample.job_percent <= 0.01 || sample.seconds < 1) return std::nullopt;
  const double d = elapsed;
  // The percentage the job would stand at now, had it kept the sampled rate.
  const double e = d * sample.job_percent / sample.seconds;
  if (e <= 0.01) return std::nullopt;
  const int r = std::max(static_cast<int>(d * (100.0 - e) / e), 0);
  const int hours = r / 3600;
  return HoursMinutes{hours, static_cast<int>(r / 60.0) - hours * 60};
}

}  // namespace queue
