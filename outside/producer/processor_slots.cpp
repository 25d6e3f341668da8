#include "outside/producer/processor_slots.h"

#include <algorithm>

namespace producer {

void ProcessorSlots::Reserve() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++reserved_;
}

void ProcessorSlots::Unreserve() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (reserved_ > 0) --reserved_;
  changed_.notify_all();
}

int ProcessorSlots::Free() const {
  return std::max(1, processors_ - reserved_) - in_use_;
}

bool ProcessorSlots::Acquire(const std::function<bool()>& halted, std::chrono::milliseconds poll) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (Free() <= 0) {
    if (halted()) return false;
    changed_.wait_for(lock, poll);
  }
  ++in_use_;
  return true;
}

void ProcessorSlots::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (in_use_ > 0) --in_use_;
  changed_.notify_all();
}

}  // namespace producer
