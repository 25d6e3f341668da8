#include <QEventLoop>
#include <QTimer>

#include "queue/runner_clock.h"

namespace queue {

namespace {

class QtRunnerClock : public RunnerClock {
 public:
  QtRunnerClock() {
    timer_.setObjectName(QStringLiteral("Timer"));
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (tick_) tick_();
    });
  }

  TimePoint Now() const override { return std::chrono::steady_clock::now(); }

  void StartTicks(std::chrono::seconds interval, std::function<void()> tick) override {
    tick_ = std::move(tick);
    timer_.start(interval);
  }

  void StopTicks() override { timer_.stop(); }

  void Wait(std::chrono::milliseconds duration) override {
    QEventLoop wait;
    QTimer::singleShot(duration, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
  }

 private:
  QTimer timer_;
  std::function<void()> tick_;
};

}  // namespace

std::unique_ptr<RunnerClock> MakeRunnerClock() {
  return std::make_unique<QtRunnerClock>();
}

}  // namespace queue
