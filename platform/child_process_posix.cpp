// A child process on pipes: posix_spawn in a new session, a pidfd to wait
// for its end where the kernel has one, an eventfd that wakes the waiters.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/child_process.h"

extern char** environ;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPipeSize = 1 << 20;

int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Nice values are per thread here: every thread of the child gets it. A
// refused raise leaves the value as it was.
void SetNiceValueOfAllThreads(pid_t pid, int nice) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(pid));
  DIR* dir = ::opendir(path);
  if (!dir) {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    long tid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || tid <= 0) continue;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
  }
  ::closedir(dir);
}

// The three pipes of a child: ours are the write end of its input and the
// read ends of its output and errors.
struct Pipes {
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};

  bool Create() {
    return ::pipe2(in, O_CLOEXEC) == 0 && ::pipe2(out, O_CLOEXEC) == 0 &&
           ::pipe2(err, O_CLOEXEC) == 0;
  }
  // The child's ends live on in the child alone, so that the readers see the
  // end of the output once the child (and whatever inherited them) is gone.
  void CloseChildEnds() {
    CloseFd(in[0]);
    CloseFd(out[1]);
    CloseFd(err[1]);
  }
  void CloseOurEnds() {
    CloseFd(in[1]);
    CloseFd(out[0]);
    CloseFd(err[0]);
  }
};

// Spawns `arguments` with its standard handles on the child's ends of
// `pipes`, in a session of its own, with an empty signal mask and default
// dispositions; 0 or the error number.
int Spawn(std::vector<std::string>& arguments, const Pipes& pipes, int nice_value, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_adddup2(&actions, pipes.in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, pipes.out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipes.err[1], 2);
  // Descriptors that others in this process opened without close-on-exec
  // stay ours as well.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t mask, defaults;
  sigemptyset(&mask);
  sigemptyset(&defaults);
  for (int sig = 1; sig < 32; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &mask);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (std::string& arg : arguments) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int rc = EAGAIN;
  // The child takes its nice value from the thread that starts it, so a
  // short-lived thread of that value starts it: the child never runs at
  // another one.
  try {
    std::thread starter([&] {
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice_value);
      rc = arguments[0].find('/') != std::string::npos
               ? ::posix_spawn(pid, argv[0], &actions, &attr, argv.data(), environ)
               : ::posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), environ);
    });
    starter.join();
  } catch (const std::system_error&) {
    rc = EAGAIN;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(std::vector<std::string> arguments,
                                                  int nice_value) {
  if (arguments.empty() || arguments[0].empty()) return nullptr;
  std::unique_ptr<ChildProcess> child(new ChildProcess);
  Pipes pipes;
  if (!pipes.Create()) {
    pipes.CloseChildEnds();
    pipes.CloseOurEnds();
    return nullptr;
  }
  // Room for a burst of output while a reader waits for the processor, so
  // that a fast child is not held up in its writes (best effort).
  ::fcntl(pipes.out[0], F_SETPIPE_SZ, kPipeSize);
  ::fcntl(pipes.err[0], F_SETPIPE_SZ, kPipeSize);
  child->stdin_fd_ = pipes.in[1];
  child->read_fd_[0] = pipes.out[0];
  child->read_fd_[1] = pipes.err[0];
  child->stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (child->stop_fd_ < 0) {
    pipes.CloseChildEnds();
    return nullptr;
  }
  const int rc = Spawn(arguments, pipes, nice_value, &child->pid_);
  pipes.CloseChildEnds();
  if (rc != 0) {
    child->pid_ = 0;
    return nullptr;
  }
  child->pidfd_ = PidfdOpen(child->pid_);
  return child;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) ::waitpid(pid_, nullptr, WNOHANG);
  CloseFd(pidfd_);
  CloseFd(stop_fd_);
  CloseFd(stdin_fd_);
  CloseFd(read_fd_[0]);
  CloseFd(read_fd_[1]);
}

size_t ChildProcess::Read(Stream stream, char* buffer, size_t size) {
  const int fd = read_fd_[static_cast<int>(stream)];
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
  for (;;) {
    int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (fds[1].revents != 0) return 0;  // interrupted
    if (fds[0].revents == 0) continue;
    ssize_t got = ::read(fd, buffer, size);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return 0;
    }
    return static_cast<size_t>(got);  // 0: every writer has gone
  }
}

bool ChildProcess::WaitForEnd(std::chrono::milliseconds timeout) {
  if (pidfd_ >= 0) {
    pollfd fds[2] = {{pidfd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    return ::poll(fds, 2, static_cast<int>(timeout.count())) > 0 && fds[0].revents != 0;
  }
  // Without a pidfd the end is polled, in short steps.
  pollfd stop{stop_fd_, POLLIN, 0};
  ::poll(&stop, 1, 1);
  return Ended();
}

void ChildProcess::Interrupt() {
  uint64_t one = 1;
  ssize_t written = ::write(stop_fd_, &one, sizeof one);
  (void)written;  // an eventfd that is already signalled stays signalled
}

bool ChildProcess::Ended() const {
  if (pidfd_ >= 0) {
    pollfd p{pidfd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return true;
  return info.si_pid != 0;
}

bool ChildProcess::IsRunning() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !reaped_ && !Ended();
}

// The child is its group's leader, and helpers it started must not outlive
// it.
void ChildProcess::Kill(std::chrono::milliseconds wait) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ <= 0 || reaped_) return;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  if (wait.count() <= 0) return;
  const Clock::time_point give_up = Clock::now() + wait;
  for (;;) {
    pid_t got = ::waitpid(pid_, nullptr, WNOHANG);
    if (got == pid_ || (got < 0 && errno == ECHILD)) {
      reaped_ = true;
      return;
    }
    if (Clock::now() >= give_up) return;
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      ::poll(&p, 1, 10);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

bool ChildProcess::Suspend() {
  return Signal(SIGSTOP);
}

bool ChildProcess::Resume() {
  return Signal(SIGCONT);
}

bool ChildProcess::Signal(int signal_number) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (reaped_ || Ended()) return false;
  // The child leads its own group: helpers it started stop and go on with it.
  return ::kill(-pid_, signal_number) == 0;
}

void ChildProcess::SetNiceValue(int nice_value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!reaped_ && !Ended()) SetNiceValueOfAllThreads(pid_, nice_value);
}

void ChildProcess::CloseInput() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseFd(stdin_fd_);
}

}  // namespace platform
