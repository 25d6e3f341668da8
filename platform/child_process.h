#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// A child process with its standard handles on pipes of ours, in a session
// (and process group) of its own, started at a given nice value. Every pipe
// end of ours is close-on-exec, so the child holds only its own three ends.
//
// Reading and waiting block until there is something to report or until
// Interrupt is called, which wakes them for good; the rest may be called from
// any thread. A child that has been reaped is never signalled.
class ChildProcess {
 public:
  enum class Stream { Output = 0, Errors = 1 };

  // Starts `arguments` (a first argument without "/" is looked up on PATH)
  // in the current folder at `nice_value`; null when it could not be started.
  static std::unique_ptr<ChildProcess> Start(std::vector<std::string> arguments, int nice_value);

  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Id() const { return pid_; }

  // The next bytes of the stream into `buffer`: their count, or 0 once every
  // writer has gone, the stream failed or Interrupt was called.
  size_t Read(Stream stream, char* buffer, size_t size);
  // Waits for the child's end for at most `timeout`, less after Interrupt;
  // true once the child has ended (it may still wait to be reaped).
  bool WaitForEnd(std::chrono::milliseconds timeout);
  // Wakes every Read and WaitForEnd, now and later.
  void Interrupt();

  // A child that has neither ended nor been reaped.
  bool IsRunning();
  // Kills the child's whole process group; with `wait`, reaps the child
  // within `wait` at most.
  void Kill(std::chrono::milliseconds wait);
  // Stops and continues the child's whole process group; false when the
  // child no longer runs.
  bool Suspend();
  bool Resume();
  // Gives every thread of a running child the nice value (a raise that is
  // not allowed leaves it as it was).
  void SetNiceValue(int nice_value);
  // Closes our end of the child's standard input.
  void CloseInput();

 private:
  ChildProcess() = default;
  bool Ended() const;
  bool Signal(int signal_number);

  pid_t pid_ = 0;
  int pidfd_ = -1;     // -1 where the kernel has none: the end is polled then
  int stop_fd_ = -1;   // readable once interrupted
  int stdin_fd_ = -1;  // guarded by mutex_
  int read_fd_[2] = {-1, -1};
  std::mutex mutex_;  // guards `reaped_` and the input's end
  bool reaped_ = false;
};

}  // namespace platform
