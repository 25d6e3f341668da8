#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

// A per-user named lock that marks a running instance. It is held from
// Acquire until the object is destroyed or the process dies; the kernel
// releases it then, so a killed instance never blocks the next start.
//
// The lock file lives in the first usable folder of LockFolders(). Only a
// lock that another process holds means another instance: a folder that
// cannot hold the lock is passed over, and when none can, the attempt is
// Unavailable and the caller runs without the guard.
class SingleInstanceLock {
 public:
  virtual ~SingleInstanceLock() = default;

  enum class Outcome { Acquired, HeldByAnother, Unavailable };
  struct Attempt {
    Outcome outcome = Outcome::Unavailable;
    std::unique_ptr<SingleInstanceLock> lock;  // Acquired: held until destroyed
    std::string path;    // Acquired, HeldByAnother: the lock file that decided
    std::string reason;  // Unavailable: why no folder could hold the lock
  };

  // A folder the lock may live in. `create`: made (private) when missing;
  // otherwise it must exist already.
  struct Folder {
    std::string path;
    bool create = false;
  };

  // The places in order: $XDG_RUNTIME_DIR when set; then the per-user data
  // folder $XDG_DATA_HOME/kestrevane (~/.local/share/kestrevane), which
  // nobody else can own. A folder counts only when it is a folder of this
  // user that no other user may write to.
  static std::vector<Folder> LockFolders();

  // The lock for `name` ("KestrevaneAuxEvent").
  static Attempt Acquire(const std::string& name);
  // The same over given folders. `flock_call` stands in for flock(2) (tests
  // give a file system without locks); null is the real call.
  using FlockCall = int (*)(int fd, int operation);
  static Attempt AcquireIn(const std::string& name, const std::vector<Folder>& folders,
                           FlockCall flock_call = nullptr);

  // True when some process holds the lock for `name` at this moment.
  static bool IsHeld(const std::string& name);

  // The lock file for `name` in the first usable folder; empty when none is.
  static std::string LockPath(const std::string& name);
};

}  // namespace platform
