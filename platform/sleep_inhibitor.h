#pragma once

#include <memory>
#include <string>

#include "platform/seam.h"

namespace platform {

// A lock that keeps the computer awake while it is held; releasing the object
// releases it. The system releases the lock of a process that died.
class SleepLock {
 public:
  virtual ~SleepLock() = default;
};

// Keeps the computer from sleeping (and from idling into sleep) while long
// work runs: logind's inhibitor lock under the program's name with the reason
// the desktop shows. Tests replace it with a recorder.
class SleepInhibitor {
 public:
  virtual ~SleepInhibitor() = default;
  // A lock held until the returned object is released; none when the system
  // has no such service or refuses it, and the work goes on all the same.
  virtual std::unique_ptr<SleepLock> Inhibit(const std::string& reason) = 0;
};

Seam<SleepInhibitor>& SleepInhibitorSeam();
inline SleepInhibitor& TheSleepInhibitor() {
  return SleepInhibitorSeam().Current();
}

}  // namespace platform
