// The single-instance guard as an exclusive flock on a per-user file. The
// descriptor is close-on-exec, so started programs never keep the lock, and
// the kernel drops the lock with the last descriptor when the holder dies.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/single_instance.h"

namespace platform {
namespace {

std::string DataFolder() {
  std::string data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    data = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string home_folder = (home && home[0] == '/') ? home : "";
    if (home_folder.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home_folder = pw->pw_dir;
    }
    if (home_folder.empty()) return std::string();
    data = home_folder + "/.local/share";
  }
  while (data.size() > 1 && data.back() == '/') data.pop_back();
  return data;
}

// mkdir -p; the folders made are private.
void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (!part.empty()) ::mkdir(part.c_str(), 0700);
    if (slash == std::string::npos) break;
  }
}

std::string Because(const std::string& what, int error) {
  return what + " (" + std::strerror(error) + ")";
}

// Why `folder` cannot hold the lock, or "" when it can. A folder that may be
// created counts as usable while it is missing unless `make` creates it now.
std::string FolderProblem(const SingleInstanceLock::Folder& folder, bool make) {
  if (folder.path.empty() || folder.path[0] != '/') return "no folder";
  if (folder.create && make) MakeFolders(folder.path);
  struct stat st;
  if (::stat(folder.path.c_str(), &st) != 0) {
    const int error = errno;
    if (error == ENOENT && folder.create && !make) return "";
    return Because(folder.path, error);
  }
  if (!S_ISDIR(st.st_mode)) return folder.path + " is not a folder";
  // Another user could otherwise put a lock file of their own in our way.
  if (st.st_uid != ::getuid()) return folder.path + " belongs to another user";
  if ((st.st_mode & S_IWOTH) != 0) return folder.path + " may be written by other users";
  return "";
}

bool ValidName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

int Flock(SingleInstanceLock::FlockCall call, int fd, int operation) {
  int result;
  do {
    result = call ? call(fd, operation) : ::flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

class FlockLock : public SingleInstanceLock {
 public:
  explicit FlockLock(int fd) : fd_(fd) {}
  ~FlockLock() override { ::close(fd_); }  // closing the descriptor releases the lock

 private:
  int fd_;
};

}  // namespace

std::vector<SingleInstanceLock::Folder> SingleInstanceLock::LockFolders() {
  std::vector<Folder> folders;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
    folders.push_back({runtime, false});
  if (const std::string data = DataFolder(); !data.empty())
    folders.push_back({(data == "/" ? "" : data) + "/kestrevane", true});
  return folders;
}

SingleInstanceLock::Attempt SingleInstanceLock::Acquire(const std::string& name) {
  return AcquireIn(name, LockFolders());
}

SingleInstanceLock::Attempt SingleInstanceLock::AcquireIn(const std::string& name,
                                                          const std::vector<Folder>& folders,
                                                          FlockCall flock_call) {
  Attempt attempt;
  auto pass_over = [&attempt](const std::string& why) {
    if (!attempt.reason.empty()) attempt.reason += "; ";
    attempt.reason += why;
  };
  if (!ValidName(name)) {
    attempt.reason = "no usable lock name";
    return attempt;
  }
  for (const Folder& folder : folders) {
    if (const std::string problem = FolderProblem(folder, true); !problem.empty()) {
      pass_over(problem);
      continue;
    }
    const std::string path = folder.path + "/" + name;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      pass_over(Because(path, errno));  // a folder or a link in its place, ...
      continue;
    }
    if (Flock(flock_call, fd, LOCK_EX | LOCK_NB) == 0) {
      attempt.outcome = Outcome::Acquired;
      attempt.lock = std::make_unique<FlockLock>(fd);
      attempt.path = path;
      attempt.reason.clear();
      return attempt;
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
      attempt.outcome = Outcome::HeldByAnother;
      attempt.path = path;
      attempt.reason.clear();
      return attempt;
    }
    // A file system without locks: that says nothing about another instance.
    pass_over(Because(path + " cannot be locked", error));
  }
  if (attempt.reason.empty()) attempt.reason = "no folder for the lock";
  return attempt;
}

std::string SingleInstanceLock::LockPath(const std::string& name) {
  if (!ValidName(name)) return std::string();
  for (const Folder& folder : LockFolders()) {
    if (!FolderProblem(folder, false).empty()) continue;
    const std::string path = folder.path + "/" + name;
    // A folder in the file's place passes the lock on to the next folder.
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) continue;
    return path;
  }
  return std::string();
}

bool SingleInstanceLock::IsHeld(const std::string& name) {
  const std::string path = LockPath(name);
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;  // never created: nobody holds it
  // A shared probe: it fails only against the exclusive holder, and two
  // probes never disturb each other.
  const bool held = Flock(nullptr, fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace platform
