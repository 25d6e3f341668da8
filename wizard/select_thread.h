#pragma once

#include <functional>
#include <thread>

#include "queue/ui_handover.h"
#include "wizard/title_preparation.h"

namespace wizard {

// Prepares a chosen title (PrepareTitle) on a worker thread and hands the
// result to the user-interface thread, which created this object and runs
// the end from its event loop.
class TKVNSelectThread {
 public:
  using EndHandler = std::function<void(const PreparationResult&)>;

  TKVNSelectThread() = default;
  // Waits for a running preparation; its end is then dropped.
  ~TKVNSelectThread();
  TKVNSelectThread(const TKVNSelectThread&) = delete;
  TKVNSelectThread& operator=(const TKVNSelectThread&) = delete;

  // Starts preparing `input`; `ended` runs on the user-interface thread once
  // it is done. Nothing happens while a preparation runs.
  void Start(PreparationInput input, EndHandler ended);
  // From Start until the end handler has returned.
  bool Running() const { return running_; }
  // Serves the user-interface thread's events until the end handler has run.
  void WaitForEnd();

 private:
  queue::UiHandover handover_;
  std::thread worker_;
  bool running_ = false;  // user-interface thread only
};

}  // namespace wizard
