#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace queue {

// The time as the runner sees it: a steady clock for the time a job has
// taken, a tick for the shown elapsed time, and a short wait that keeps the
// encoder controller's notifications coming. Tests give a clock they move
// by hand.
class RunnerClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~RunnerClock() = default;
  virtual TimePoint Now() const = 0;
  // Calls `tick` every `interval` from now on, until StopTicks; a second
  // StartTicks starts the interval again.
  virtual void StartTicks(std::chrono::seconds interval, std::function<void()> tick) = 0;
  virtual void StopTicks() = 0;
  // Waits about `duration` while the notifications handed to this thread
  // are still delivered (user input is not).
  virtual void Wait(std::chrono::milliseconds duration) = 0;
};

// The clock of the running program: the steady clock, a timer of the
// calling thread's event loop, and a nested event loop for the waits.
std::unique_ptr<RunnerClock> MakeRunnerClock();

}  // namespace queue
