#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

namespace queue {

// Hands work from worker threads to the thread that created it (the
// user-interface thread), which runs it from its event loop in the order it
// was posted, one item at a time, so that a nested event loop inside an item
// keeps the order too. The items travel through a mutex and the wake-up
// through an eventfd, both of which the thread sanitizer follows.
class UiHandover {
 public:
  UiHandover();  // on the receiving thread, which has a Qt event loop
  ~UiHandover();
  UiHandover(const UiHandover&) = delete;
  UiHandover& operator=(const UiHandover&) = delete;

  // From any thread. Work still waiting when the object goes is dropped.
  void Post(std::function<void()> work);

 private:
  void Drain();
  void Wake();

  int wake_fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::mutex mutex_;
  std::deque<std::function<void()>> items_;
};

}  // namespace queue
