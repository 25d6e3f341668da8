#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace queue {

// Splits a command line into arguments the way a Windows program splits its
// own: blanks and tabs separate, double quotes group without being part of
// the argument, 2n backslashes before a quote give n backslashes, 2n + 1 give
// n and a literal quote, "" inside quotes is a literal quote.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// Cuts a child's output into lines: a carriage return ends a line, and one
// line feed at the start of a line is dropped, so that "text\r\n" gives
// "text" once and a progress line rewritten with a bare "\r" arrives on every
// rewrite. Text without its carriage return yet stays pending. The lines do
// not depend on where the blocks of output end.
class LineCutter {
 public:
  static constexpr size_t kCapacityStep = 2048;

  LineCutter();
  // Appends `size` bytes and returns the lines they complete, in order.
  std::vector<std::string> Append(const char* data, size_t size);
  // The pending text; the buffer is empty afterwards (its memory is kept).
  std::string TakeRest();
  bool Empty() const { return pending_.empty(); }

 private:
  std::string pending_;
  size_t capacity_ = kCapacityStep;
  bool at_line_start_ = true;  // no byte of the current line seen yet
};

// Starts a child process (a platform::ChildProcess: its standard handles on
// pipes, a session of its own, the nice value of its priority class), reads
// its output on two reader threads, cuts it into lines and reports the
// child's end from a watcher thread. The handlers run on those worker threads.
//
// Close ends everything with bounded waits: it kills the child's process
// group and never waits on a handler that is queued for another thread.
// Close may also be called from a handler, where it only stops the run; the
// next Close from outside releases it.
class CConRedir {
 public:
  CConRedir();
  ~CConRedir();
  CConRedir(const CConRedir&) = delete;
  CConRedir& operator=(const CConRedir&) = delete;

  // Starts the child from `command_line` (split as above; a first argument
  // without "/" is looked up on PATH) in the current folder, at the nice
  // value that stands for its priority class. `show` has no meaning here:
  // there is no console window to show.
  bool Open(const std::string& command_line, int nice_value, bool show);
  void Close();
  // A child exists and has not ended.
  bool IsChildRunning() const;
  // Gives every thread of a running child the nice value (a raise that is
  // not allowed leaves it as it was).
  void SetChildPriority(int nice_value);
  // The process id of the current child, 0 without one.
  pid_t ChildProcessId() const;
  // Stops and continues the child's whole process group (SIGSTOP, SIGCONT);
  // false when no child runs. A stopped child is still running: its end and
  // Close work as ever.
  bool SuspendChild();
  bool ResumeChild();

 protected:
  virtual void OnChildStarted(const std::string& command_line);
  virtual void OnStdOutLine(const std::string& line);
  virtual void OnStdErrLine(const std::string& line);
  // After the last line of both streams; exactly once per successful Open.
  virtual void OnChildEnded();

  // Every Open gets a new number. A handler asks which run it serves, so that
  // work handed on to another thread can be dropped once a newer run exists.
  uint64_t CurrentRunNumber() const { return run_number_.load(); }
  // The run of the calling worker thread; 0 on any other thread.
  static uint64_t WorkerRunNumber();

 private:
  struct Run;
  void ReaderThread(std::shared_ptr<Run> run, int stream);
  void WatcherThread(std::shared_ptr<Run> run);
  static void StopRun(Run& run);
  std::shared_ptr<Run> CurrentRun() const;

  // The run being served; guarded by run_mutex_ (the pointer, not the run).
  mutable std::mutex run_mutex_;
  std::shared_ptr<Run> run_;
  std::atomic<uint64_t> run_number_{0};
  // The line buffers are reused from run to run.
  LineCutter out_lines_;
  LineCutter err_lines_;
};

}  // namespace queue
