#pragma once

#include <optional>

#include "queue/job_entry.h"

namespace queue {

// The arithmetic of a running job's progress and times.

// The job's percentage while volume `volume` of `volumes` stands at
// `volume_percent`.
double JobPercent(int volume, int volumes, double volume_percent);

// The titles show the job's percentage until it rounds up to 100.
bool TitlesShowPercent(double job_percent);

// Whole seconds of a stored time.
int SecondsOf(const HoursMinutes& time);
// The hours and minutes of a counter of whole seconds.
HoursMinutes HoursMinutesOf(int seconds);

// The job's percentage and its elapsed seconds at the last change of the
// encoder's own figure.
struct RateSample {
  double job_percent = -1.0;
  int seconds = -1;
};

// The time the rest of the job takes at the sampled rate, `elapsed` seconds
// into it; none while no usable sample exists. Never negative: a job that
// runs past its estimate has no time left rather than a negative one, which
// the JobFile could not hold.
std::optional<HoursMinutes> EstimateTimeLeft(const RateSample& sample, int elapsed);

}  // namespace queue
