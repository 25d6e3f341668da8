#include "platform/stray_processes.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace platform {
namespace {

// Where a /proc link of a process points; empty when it cannot be read (the
// process is gone, a zombie, or another user's).
std::string ProcLink(pid_t pid, const char* name) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/%s", static_cast<int>(pid), name);
  char target[4096];
  const ssize_t n = ::readlink(path, target, sizeof target);
  return n > 0 && static_cast<size_t>(n) < sizeof target ? std::string(target, n) : "";
}

std::string Canonical(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string result = resolved;
  std::free(resolved);
  return result;
}

bool OwnedByThisUser(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
  struct stat info {};
  return ::stat(path, &info) == 0 && info.st_uid == ::getuid();
}

// Gone, or dead and only waiting for its parent to collect it.
bool Ended(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  std::FILE* file = std::fopen(path, "r");
  if (!file) return true;
  // "pid (name) state ...": the name may hold blanks and parentheses.
  char line[512];
  const size_t got = std::fread(line, 1, sizeof line - 1, file);
  std::fclose(file);
  line[got] = '\0';
  char state = 0;
  if (const char* close = std::strrchr(line, ')'); close && close[1] == ' ') state = close[2];
  return state == 'Z' || state == 'X';
}

// Waits for the end of a process that need not be our child: its pidfd
// turns readable when it ends; a kernel without pidfds is asked every 10 ms.
bool WaitForEnd(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  while (!Ended(pid)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      if (pidfd >= 0) ::close(pidfd);
      return false;
    }
    if (pidfd >= 0) {
      pollfd wait{pidfd, POLLIN, 0};
      ::poll(&wait, 1, static_cast<int>(left.count()));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return true;
}

}  // namespace

std::vector<pid_t> StrayProcesses(const std::string& program, const std::string& folder,
                                  pid_t except) {
  std::vector<pid_t> found;
  const std::string wanted_program = Canonical(program);
  const std::string wanted_folder = Canonical(folder);
  DIR* proc = ::opendir("/proc");
  if (!proc) return found;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid <= 0 || pid == ::getpid() || pid == except)
      continue;
    const pid_t process = static_cast<pid_t>(pid);
    if (OwnedByThisUser(process) && ProcLink(process, "exe") == wanted_program &&
        ProcLink(process, "cwd") == wanted_folder && !Ended(process))
      found.push_back(process);
  }
  ::closedir(proc);
  return found;
}

bool EndStrayProcesses(const std::vector<pid_t>& processes, std::chrono::milliseconds timeout) {
  for (pid_t pid : processes) {
    ::kill(-pid, SIGKILL);  // the group it leads, when it leads one
    ::kill(pid, SIGKILL);
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (pid_t pid : processes)
    if (!WaitForEnd(pid, deadline)) return false;
  return true;
}

}  // namespace platform
