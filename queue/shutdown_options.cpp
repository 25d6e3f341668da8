#include "queue/shutdown_options.h"

#include <algorithm>

namespace queue {

void ShutdownCounter::SetPosition(int value) {
  if (kMinimum <= maximum) value = std::clamp(value, kMinimum, maximum);
  position = value;
}

void ShutdownCounter::StepUp() {
  if (position < maximum) SetPosition(position + 1);
}

void ShutdownCounter::StepDown() {
  if (position > kMinimum) SetPosition(position - 1);
}

void ShutdownOptions::Normalise() {
  for (ShutdownCounter* counter : {&jobs, &volumes}) {
    if (counter->maximum != 0) {
      if (counter->position > counter->maximum) counter->SetPosition(counter->maximum);
      if (counter->position == 0) counter->position = 1;
    } else {
      counter->position = 0;
    }
  }
}

bool ShutdownOptions::CountFinishedVolume() {
  const bool counted = Counts(ShutdownChoice::Volumes);
  const bool stop = counted && volumes.position == 1;
  if (counted) volumes.SetPosition(volumes.position - 1);
  volumes.maximum -= 1;
  return stop;
}

bool ShutdownOptions::CountCompletedJob() {
  const bool counted = Counts(ShutdownChoice::Jobs);
  const bool stop = counted && jobs.position == 1;
  if (counted) jobs.SetPosition(jobs.position - 1);
  jobs.maximum -= 1;
  return stop;
}

bool ShutdownOptions::CountFailedJob(int volumes_left) {
  bool stop = false;
  if (Counts(ShutdownChoice::Jobs)) {
    if (jobs.position == 1)
      stop = true;
    else
      jobs.SetPosition(jobs.position - 1);
  } else if (Counts(ShutdownChoice::Volumes)) {
    if (volumes_left < volumes.position)
      volumes.SetPosition(volumes.position - volumes_left);
    else
      stop = true;
  }
  volumes.maximum -= volumes_left;
  jobs.maximum -= 1;
  return stop;
}

}  // namespace queue
