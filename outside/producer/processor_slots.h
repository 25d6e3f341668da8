#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace producer {

// The processors the workers of a pass may keep busy at once. The sound is
// coded on a thread of its own beside the passes, and segments that start
// late wait for it; shared evenly with every worker it would end last and
// leave the workers idle, waiting for it. So while it is coded it holds a
// processor of its own: one worker fewer runs (never none).
class ProcessorSlots {
 public:
  explicit ProcessorSlots(int processors) : processors_(processors < 1 ? 1 : processors) {}

  // The sound starts or ends. The sound never waits for a slot: workers
  // waiting for the sound keep theirs.
  void Reserve();
  void Unreserve();

  // A worker takes a slot before it codes a task, and gives it back after;
  // false when `halted` became true while it waited (looked at whenever a
  // slot comes free, and at least every `poll`).
  bool Acquire(const std::function<bool()>& halted,
               std::chrono::milliseconds poll = std::chrono::milliseconds(50));
  void Release();

 private:
  int Free() const;

  const int processors_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int reserved_ = 0;
  int in_use_ = 0;
};

}  // namespace producer
