#pragma once

#include <atomic>
#include <thread>

namespace producer {

// The encoder's signal catcher: the listening socket named after its
// process id, served on a thread of its own. The stop message (1, 0) from a
// process of the same user sets the stop flag; other messages and other
// users are ignored, and a client that sends nothing is dropped after a
// while without delaying the others.
class SignalCatcher {
 public:
  // False from Listening() when the socket could not be made.
  explicit SignalCatcher(std::atomic<bool>& stop);
  ~SignalCatcher();
  SignalCatcher(const SignalCatcher&) = delete;
  SignalCatcher& operator=(const SignalCatcher&) = delete;

  bool Listening() const { return fd_ >= 0; }
  // Clients refused because another user ran them.
  int Refused() const { return refused_; }

 private:
  void Serve();

  std::atomic<bool>& stop_;
  std::atomic<bool> quit_{false};
  std::atomic<int> refused_{0};
  int fd_ = -1;
  std::thread thread_;
};

}  // namespace producer
