#include "queue/con_redir.h"

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
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace queue {

// ---------------------------------------------------------------------------
// Command line

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = line.size();
  for (;;) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      char c = line[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        size_t slashes = 0;
        while (i < n && line[i] == '\\') ++slashes, ++i;
        if (i < n && line[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(slashes, '\\');
        }
      } else if (c == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += c;
        ++i;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

// ---------------------------------------------------------------------------
// Line cutting

LineCutter::LineCutter() {
  pending_.reserve(capacity_);
}

std::vector<std::string> LineCutter::Append(const char* data, size_t size) {
  if (pending_.size() + size >= capacity_) {
    while (pending_.size() + size >= capacity_) capacity_ += kCapacityStep;
    pending_.reserve(capacity_);
  }
  std::vector<std::string> lines;
  for (size_t i = 0; i < size; ++i) {
    char c = data[i];
    if (c == '\r') {
      lines.push_back(pending_);
      pending_.clear();
      at_line_start_ = true;
      continue;
    }
    // One line feed at the start of a line is dropped, wherever the blocks
    // happen to end.
    if (at_line_start_) {
      at_line_start_ = false;
      if (c == '\n') continue;
    }
    pending_ += c;
  }
  return lines;
}

std::string LineCutter::TakeRest() {
  std::string rest = pending_;
  pending_.clear();
  at_line_start_ = true;
  return rest;
}

// ---------------------------------------------------------------------------
// One run of a child

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kKillWait = std::chrono::milliseconds(1000);
constexpr auto kThreadWait = std::chrono::milliseconds(1000);
// The watcher waits for a reader while it still drains the pipe, up to the
// overall bound; a reader that has gone quiet for this long is not waited for.
constexpr auto kReaderQuiet = std::chrono::milliseconds(100);
constexpr auto kReaderWaitMax = std::chrono::milliseconds(2000);
constexpr size_t kReadBlock = 1024;
constexpr int kPipeSize = 1 << 20;

thread_local const void* tls_owner = nullptr;
thread_local void* tls_run = nullptr;
thread_local uint64_t tls_run_number = 0;

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
void SetNiceValue(pid_t pid, int nice) {
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

struct Completion {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;

  void Mark() {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    changed.notify_all();
  }
  bool WaitFor(Clock::duration timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [this] { return done; });
  }
};

}  // namespace

struct CConRedir::Run {
  uint64_t number = 0;
  pid_t pid = 0;
  int pidfd = -1;    // -1 where the kernel has none: the exit is polled then
  int stop_fd = -1;  // the stop event: readable once signalled
  int stdin_fd = -1;
  int read_fd[2] = {-1, -1};
  std::atomic<bool> running{false};

  std::mutex child_mutex;  // guards `reaped`, so that a reaped id is never signalled
  bool reaped = false;

  struct Stream {
    std::mutex mutex;  // the reader appends and delivers, the watcher empties
    LineCutter lines;
    std::atomic<uint64_t> bytes{0};
  } streams[2];

  Completion done[3];  // stdout reader, stderr reader, watcher
  std::thread threads[3];

  ~Run() {
    if (pid > 0 && !reaped) ::waitpid(pid, nullptr, WNOHANG);
    CloseFd(pidfd);
    CloseFd(stop_fd);
    CloseFd(stdin_fd);
    CloseFd(read_fd[0]);
    CloseFd(read_fd[1]);
  }

  // The child has ended (it may still wait to be reaped).
  bool ChildEnded() {
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      return ::poll(&p, 1, 0) > 0;
    }
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
      return true;
    return info.si_pid != 0;
  }
};

CConRedir::CConRedir() = default;

CConRedir::~CConRedir() {
  Close();
}

void CConRedir::OnChildStarted(const std::string&) {}
void CConRedir::OnStdOutLine(const std::string&) {}
void CConRedir::OnStdErrLine(const std::string&) {}
void CConRedir::OnChildEnded() {}

uint64_t CConRedir::WorkerRunNumber() {
  return tls_run_number;
}

bool CConRedir::Open(const std::string& command_line, int nice_value, bool show) {
  (void)show;
  Close();
  std::vector<std::string> args = SplitCommandLine(command_line);
  if (args.empty() || args[0].empty()) return false;

  std::shared_ptr<Run> run;
  try {
    run = std::make_shared<Run>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  auto close_child_ends = [&] {
    CloseFd(in[0]);
    CloseFd(out[1]);
    CloseFd(err[1]);
  };
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    close_child_ends();
    CloseFd(in[1]);
    CloseFd(out[0]);
    CloseFd(err[0]);
    return false;
  }
  // Room for a burst of output while a reader waits for the processor, so
  // that a fast child is not held up in its writes (best effort).
  ::fcntl(out[0], F_SETPIPE_SZ, kPipeSize);
  ::fcntl(err[0], F_SETPIPE_SZ, kPipeSize);
  run->stdin_fd = in[1];
  run->read_fd[0] = out[0];
  run->read_fd[1] = err[0];
  run->stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (run->stop_fd < 0) {
    close_child_ends();
    return false;
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
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
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = EAGAIN;
  // The child takes its nice value from the thread that starts it, so a
  // short-lived thread of that value starts it: the child never runs at
  // another one.
  try {
    std::thread starter([&] {
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice_value);
      rc = args[0].find('/') != std::string::npos
               ? ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ)
               : ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    });
    starter.join();
  } catch (const std::system_error&) {
    rc = EAGAIN;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  // The child's ends live on in the child alone, so that the readers see the
  // end of the output once the child (and whatever inherited them) is gone.
  close_child_ends();
  if (rc != 0) return false;

  run->pid = pid;
  run->pidfd = PidfdOpen(pid);
  run->number = run_number_.fetch_add(1) + 1;
  run->running = true;
  // The buffers of the previous run are reused.
  run->streams[0].lines = std::move(out_lines_);
  run->streams[1].lines = std::move(err_lines_);
  run->streams[0].lines.TakeRest();
  run->streams[1].lines.TakeRest();
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    run_ = run;
  }
  try {
    run->threads[0] = std::thread(&CConRedir::ReaderThread, this, run, 0);
    run->threads[1] = std::thread(&CConRedir::ReaderThread, this, run, 1);
    run->threads[2] = std::thread(&CConRedir::WatcherThread, this, run);
  } catch (const std::system_error&) {
    Close();
    return false;
  }
  OnChildStarted(command_line);
  return true;
}

void CConRedir::ReaderThread(std::shared_ptr<Run> run, int stream) {
  tls_owner = this;
  tls_run = run.get();
  tls_run_number = run->number;
  Run::Stream& s = run->streams[stream];
  char block[kReadBlock];
  pollfd fds[2] = {{run->read_fd[stream], POLLIN, 0}, {run->stop_fd, POLLIN, 0}};
  for (;;) {
    int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;  // stopped
    if (fds[0].revents == 0) continue;
    ssize_t got = ::read(run->read_fd[stream], block, sizeof block);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    if (got == 0) break;  // every writer has gone
    // Delivered under the buffer's lock, so that the watcher's last line
    // always comes after them.
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const std::string& line : s.lines.Append(block, static_cast<size_t>(got))) {
      if (stream == 0)
        OnStdOutLine(line);
      else
        OnStdErrLine(line);
    }
    s.bytes += static_cast<uint64_t>(got);
  }
  run->done[stream].Mark();
}

void CConRedir::WatcherThread(std::shared_ptr<Run> run) {
  tls_owner = this;
  tls_run = run.get();
  tls_run_number = run->number;
  while (run->running) {
    if (run->pidfd >= 0) {
      pollfd fds[2] = {{run->pidfd, POLLIN, 0}, {run->stop_fd, POLLIN, 0}};
      if (::poll(fds, 2, 100) > 0 && fds[0].revents != 0) run->running = false;
    } else {
      pollfd stop{run->stop_fd, POLLIN, 0};
      ::poll(&stop, 1, 1);
      if (run->ChildEnded()) run->running = false;
    }
  }
  // Once the child has ended its readers drain the pipes to their end; the
  // wait is cut short when a reader falls quiet (a descendant may still hold
  // the pipe) and is bounded in any case.
  for (int stream = 0; stream < 2; ++stream) {
    Run::Stream& s = run->streams[stream];
    const Clock::time_point give_up = Clock::now() + kReaderWaitMax;
    uint64_t seen = s.bytes;
    while (!run->done[stream].WaitFor(kReaderQuiet)) {
      uint64_t now = s.bytes;
      if (now == seen || Clock::now() >= give_up) break;
      seen = now;
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.lines.Empty()) {
      std::string rest = s.lines.TakeRest();
      if (stream == 0)
        OnStdOutLine(rest);
      else
        OnStdErrLine(rest);
    }
  }
  OnChildEnded();
  run->done[2].Mark();
}

void CConRedir::StopRun(Run& run) {
  run.running = false;
  uint64_t one = 1;
  ssize_t written = ::write(run.stop_fd, &one, sizeof one);
  (void)written;  // an eventfd that is already signalled stays signalled
}

// Kills the child's whole process group: the child is its group's leader,
// and helpers it started must not outlive it.
void CConRedir::KillChild(Run& run, bool wait) {
  std::lock_guard<std::mutex> lock(run.child_mutex);
  if (run.pid <= 0 || run.reaped) return;
  ::kill(-run.pid, SIGKILL);
  ::kill(run.pid, SIGKILL);
  if (!wait) return;
  const Clock::time_point give_up = Clock::now() + kKillWait;
  for (;;) {
    pid_t got = ::waitpid(run.pid, nullptr, WNOHANG);
    if (got == run.pid || (got < 0 && errno == ECHILD)) {
      run.reaped = true;
      return;
    }
    if (Clock::now() >= give_up) return;
    if (run.pidfd >= 0) {
      pollfd p{run.pidfd, POLLIN, 0};
      ::poll(&p, 1, 10);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

void CConRedir::Close() {
  if (tls_owner == this && tls_run) {
    // From a handler: stop the run; its threads end by themselves and the
    // next Close from outside releases them.
    Run& run = *static_cast<Run*>(tls_run);
    StopRun(run);
    KillChild(run, false);
    return;
  }
  std::shared_ptr<Run> run;
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    run = std::move(run_);
    run_.reset();
  }
  if (!run) return;
  StopRun(*run);
  KillChild(*run, true);
  // The watcher first: it still delivers the last lines and the end. A thread
  // that does not end in time is left to finish on its own; it keeps the run
  // (and so its descriptors) alive until then.
  bool all_ended = true;
  for (int t : {2, 0, 1}) {
    if (!run->threads[t].joinable()) continue;
    if (run->done[t].WaitFor(kThreadWait)) {
      run->threads[t].join();
    } else {
      run->threads[t].detach();
      all_ended = false;
    }
  }
  CloseFd(run->stdin_fd);
  if (all_ended) {
    out_lines_ = std::move(run->streams[0].lines);
    err_lines_ = std::move(run->streams[1].lines);
  }
}

bool CConRedir::IsChildRunning() const {
  std::shared_ptr<Run> run;
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    run = run_;
  }
  if (!run) return false;
  std::lock_guard<std::mutex> lock(run->child_mutex);
  return !run->reaped && !run->ChildEnded();
}

pid_t CConRedir::ChildProcessId() const {
  std::lock_guard<std::mutex> lock(run_mutex_);
  return run_ ? run_->pid : 0;
}

bool CConRedir::SuspendChild() {
  return SignalChild(SIGSTOP);
}

bool CConRedir::ResumeChild() {
  return SignalChild(SIGCONT);
}

bool CConRedir::SignalChild(int signal_number) {
  std::shared_ptr<Run> run;
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    run = run_;
  }
  if (!run) return false;
  std::lock_guard<std::mutex> lock(run->child_mutex);
  if (run->reaped || run->ChildEnded()) return false;
  // The child leads its own group: helpers it started stop and go on with it.
  return ::kill(-run->pid, signal_number) == 0;
}

void CConRedir::SetChildPriority(int nice_value) {
  std::shared_ptr<Run> run;
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    run = run_;
  }
  if (!run) return;
  std::lock_guard<std::mutex> lock(run->child_mutex);
  if (!run->reaped && !run->ChildEnded()) SetNiceValue(run->pid, nice_value);
}

}  // namespace queue
