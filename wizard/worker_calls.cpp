#include "wizard/worker_calls.h"

namespace wizard {

WorkerCalls::WorkerCalls() = default;

WorkerCalls::~WorkerCalls() {
  Shutdown();
}

bool WorkerCalls::Call(std::function<void()> work) {
  auto item = std::make_shared<Item>();
  item->work = std::move(work);
  std::unique_lock<std::mutex> lock(mutex_);
  if (shut_down_) return false;
  items_.push_back(item);
  ui_wake_.notify_all();
  lock.unlock();
  handover_.Post([this] { Serve(); });
  lock.lock();
  worker_wake_.wait(lock, [&] { return item->done || shut_down_; });
  return item->done;
}

void WorkerCalls::Notify() {
  std::lock_guard<std::mutex> lock(mutex_);
  ui_wake_.notify_all();
}

void WorkerCalls::Serve() {
  if (serving_) return;
  while (!held_) {
    std::shared_ptr<Item> item;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (items_.empty() || shut_down_) return;
      item = items_.front();
      items_.pop_front();
    }
    // The worker goes on even when the work fails.
    struct Finish {
      WorkerCalls& calls;
      Item& item;
      ~Finish() {
        calls.serving_ = false;
        std::lock_guard<std::mutex> lock(calls.mutex_);
        item.done = true;
        calls.worker_wake_.notify_all();
      }
    } finish{*this, *item};
    serving_ = true;
    item->work();
  }
}

void WorkerCalls::Hold(bool held) {
  held_ = held;
  // Calls that came in meanwhile are served from the event loop.
  if (!held) handover_.Post([this] { Serve(); });
}

void WorkerCalls::ServeUntil(const std::function<bool()>& done) {
  for (;;) {
    Serve();
    std::unique_lock<std::mutex> lock(mutex_);
    if (done() || shut_down_) return;
    ui_wake_.wait(lock, [&] { return (!items_.empty() && !held_) || done() || shut_down_; });
    if (done() && items_.empty()) return;
  }
}

void WorkerCalls::Shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  shut_down_ = true;
  items_.clear();
  worker_wake_.notify_all();
  ui_wake_.notify_all();
}

}  // namespace wizard
