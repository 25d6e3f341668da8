// The single-instance guard as an exclusive flock on a per-user file. The
// descriptor is close-on-exec, so started programs never keep the lock, and
// the kernel drops the lock with the last descriptor when the holder dies.
#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

std::string RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return runtime;
  return "/tmp/kestrevane-" + std::to_string(::getuid());
}

// The fallback folder under /tmp must be ours and private: another user could
// otherwise create it first and control our lock file.
bool EnsureRuntimeFolder(const std::string& folder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return true;  // provided by the session
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
    return false;
  if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return false;
  return true;
}

class FlockLock : public SingleInstanceLock {
 public:
  explicit FlockLock(int fd) : fd_(fd) {}
  ~FlockLock() override { ::close(fd_); }  // closing the descriptor releases the lock

 private:
  int fd_;
};

}  // namespace

std::string SingleInstanceLock::LockPath(const std::string& name) {
  return RuntimeFolder() + "/" + name;
}

std::unique_ptr<SingleInstanceLock> SingleInstanceLock::TryAcquire(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return nullptr;
  if (!EnsureRuntimeFolder(RuntimeFolder())) return nullptr;
  const std::string path = LockPath(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FlockLock>(fd);
}

bool SingleInstanceLock::IsHeld(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return false;
  const std::string path = LockPath(name);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;  // never created: nobody holds it
  // A shared probe: it fails only against the exclusive holder, and two
  // probes never disturb each other.
  int result;
  do {
    result = ::flock(fd, LOCK_SH | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  const bool held = result != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace platform
