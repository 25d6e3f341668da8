#include "queue/ui_handover.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>

namespace queue {

UiHandover::UiHandover() {
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ >= 0) {
    notifier_ = std::make_unique<QSocketNotifier>(wake_fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
  }
}

UiHandover::~UiHandover() {
  notifier_.reset();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void UiHandover::Post(std::function<void()> work) {
  bool was_empty;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    was_empty = items_.empty();
    items_.push_back(std::move(work));
  }
  // The receiver drains until the queue is empty, so only the first item
  // after that needs to wake it.
  if (was_empty) Wake();
}

void UiHandover::Wake() {
  uint64_t one = 1;
  ssize_t written = ::write(wake_fd_, &one, sizeof one);
  (void)written;  // a counter that is already up wakes the receiver all the same
}

void UiHandover::Drain() {
  uint64_t count;
  ssize_t got = ::read(wake_fd_, &count, sizeof count);
  (void)got;
  bool rearmed = false;
  for (;;) {
    std::function<void()> work;
    bool more;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (items_.empty()) return;
      work = std::move(items_.front());
      items_.pop_front();
      more = !items_.empty();
    }
    // An item may run an event loop of its own (a message box): it goes on
    // with the items behind this one.
    if (more && !rearmed) {
      Wake();
      rearmed = true;
    }
    work();
  }
}

}  // namespace queue
