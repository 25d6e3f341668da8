#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "queue/ui_handover.h"

namespace wizard {

// Calls of a worker thread into the user-interface thread that the worker
// waits for, as a window's worker hands over its log lines, progress and
// questions. The user-interface thread runs them from its event loop in
// the order they were made, or from ServeUntil while it waits for the
// worker itself.
class WorkerCalls {
 public:
  WorkerCalls();  // on the user-interface thread
  ~WorkerCalls();
  WorkerCalls(const WorkerCalls&) = delete;
  WorkerCalls& operator=(const WorkerCalls&) = delete;

  // Worker side: runs `work` on the user-interface thread and returns once it
  // has run. False, without running it, once the calls are shut down.
  bool Call(std::function<void()> work);
  // Worker side: wakes a ServeUntil to look at its condition again.
  void Notify();

  // Runs the waiting calls; none while held or while one is running.
  void Serve();
  // While held, calls wait unserved: a worker inside a call stands still.
  void Hold(bool held);
  // Serves calls until `done` holds (it is looked at again after each call
  // and each Notify).
  void ServeUntil(const std::function<bool()>& done);
  // True while a call runs (it may have a message box open).
  bool Serving() const { return serving_; }
  // Every waiting and later call returns false without running.
  void Shutdown();

 private:
  struct Item {
    std::function<void()> work;
    bool done = false;
  };

  std::mutex mutex_;
  std::condition_variable worker_wake_;
  std::condition_variable ui_wake_;
  std::deque<std::shared_ptr<Item>> items_;
  bool shut_down_ = false;
  bool held_ = false;     // user-interface thread only
  bool serving_ = false;  // user-interface thread only
  queue::UiHandover handover_;
};

}  // namespace wizard
