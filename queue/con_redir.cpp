#include "queue/con_redir.h"

#include <chrono>
#include <condition_variable>
#include <thread>

#include "platform/child_process.h"

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
constexpr auto kEndPoll = std::chrono::milliseconds(100);
// The watcher waits for a reader while it still drains the pipe, up to the
// overall bound; a reader that has gone quiet for this long is not waited for.
constexpr auto kReaderQuiet = std::chrono::milliseconds(100);
constexpr auto kReaderWaitMax = std::chrono::milliseconds(2000);
constexpr size_t kReadBlock = 1024;

thread_local const void* tls_owner = nullptr;
thread_local void* tls_run = nullptr;
thread_local uint64_t tls_run_number = 0;

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
  std::unique_ptr<platform::ChildProcess> child;
  std::atomic<bool> running{false};

  struct Stream {
    std::mutex mutex;  // the reader appends and delivers, the watcher empties
    LineCutter lines;
    std::atomic<uint64_t> bytes{0};
  } streams[2];

  Completion done[3];  // stdout reader, stderr reader, watcher
  std::thread threads[3];
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
  std::shared_ptr<Run> run;
  try {
    run = std::make_shared<Run>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  run->child = platform::ChildProcess::Start(SplitCommandLine(command_line), nice_value);
  if (!run->child) return false;
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
  const auto which =
      stream == 0 ? platform::ChildProcess::Stream::Output : platform::ChildProcess::Stream::Errors;
  char block[kReadBlock];
  while (size_t got = run->child->Read(which, block, sizeof block)) {
    // Delivered under the buffer's lock, so that the watcher's last line
    // always comes after them.
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const std::string& line : s.lines.Append(block, got)) {
      if (stream == 0)
        OnStdOutLine(line);
      else
        OnStdErrLine(line);
    }
    s.bytes += got;
  }
  run->done[stream].Mark();
}

void CConRedir::WatcherThread(std::shared_ptr<Run> run) {
  tls_owner = this;
  tls_run = run.get();
  tls_run_number = run->number;
  while (run->running) {
    if (run->child->WaitForEnd(kEndPoll)) run->running = false;
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
  run.child->Interrupt();
}

void CConRedir::Close() {
  if (tls_owner == this && tls_run) {
    // From a handler: stop the run; its threads end by themselves and the
    // next Close from outside releases them.
    Run& run = *static_cast<Run*>(tls_run);
    StopRun(run);
    run.child->Kill(std::chrono::milliseconds(0));
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
  run->child->Kill(kKillWait);
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
  run->child->CloseInput();
  if (all_ended) {
    out_lines_ = std::move(run->streams[0].lines);
    err_lines_ = std::move(run->streams[1].lines);
  }
}

std::shared_ptr<CConRedir::Run> CConRedir::CurrentRun() const {
  std::lock_guard<std::mutex> lock(run_mutex_);
  return run_;
}

bool CConRedir::IsChildRunning() const {
  std::shared_ptr<Run> run = CurrentRun();
  return run && run->child->IsRunning();
}

pid_t CConRedir::ChildProcessId() const {
  std::lock_guard<std::mutex> lock(run_mutex_);
  return run_ ? run_->child->Id() : 0;
}

bool CConRedir::SuspendChild() {
  std::shared_ptr<Run> run = CurrentRun();
  return run && run->child->Suspend();
}

bool CConRedir::ResumeChild() {
  std::shared_ptr<Run> run = CurrentRun();
  return run && run->child->Resume();
}

void CConRedir::SetChildPriority(int nice_value) {
  std::shared_ptr<Run> run = CurrentRun();
  if (run) run->child->SetNiceValue(nice_value);
}

}  // namespace queue
