#pragma once

#include <memory>
#include <string>

namespace platform {

// A per-user named lock that marks a running instance. It is held from
// TryAcquire until the object is destroyed or the process dies; the kernel
// releases it then, so a killed instance never blocks the next start.
class SingleInstanceLock {
 public:
  virtual ~SingleInstanceLock() = default;

  // The lock for `name` ("KestrevaneAuxEvent"), or null when another process
  // holds it.
  static std::unique_ptr<SingleInstanceLock> TryAcquire(const std::string& name);

  // True when some process holds the lock for `name` at this moment.
  static bool IsHeld(const std::string& name);

  // The file behind the lock: $XDG_RUNTIME_DIR/<name>, else
  // /tmp/kestrevane-<uid>/<name>.
  static std::string LockPath(const std::string& name);
};

}  // namespace platform
