#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "queue/encoder_controller.h"
#include "queue/runner_clock.h"

namespace kv_test {

// An encoder controller that records what the runner asks of it; the test
// plays the encoder's notifications through it.
class RecordingEncoder : public queue::EncoderController {
 public:
  struct Start {
    std::string encoder_path, job_file, folder;
    int volume, volumes;
    queue::PriorityClass priority;
  };
  void SetEvents(queue::EncoderEvents* events) override { events_ = events; }
  void Close() override { ++closes; }
  bool StartVolume(const std::string& encoder_path, const std::string& job_file, int volume,
                   int volumes, queue::PriorityClass priority) override;
  void RequestStop() override { ++stop_requests; }
  bool BannerSeen() const override { return banner_seen; }
  bool ChildRunning() const override { return child_running; }
  void SetChildPriority(queue::PriorityClass priority) override {
    priority_changes.push_back(priority);
  }
  bool Pause() override {
    if (!child_running) return false;
    ++pauses;
    return true;
  }
  bool Resume() override {
    if (!child_running) return false;
    ++resumes;
    return true;
  }

  // The encoder's reports, as the real controller hands them over.
  void Progress(double percent, bool changed = true);
  // The volume ran to its end: 100 %, then the volume's end.
  void Finish(int volume, int volumes);
  void Stop(bool failed, const std::string& message = "");

  std::vector<Start> starts;
  std::vector<queue::PriorityClass> priority_changes;
  int closes = 0;
  int stop_requests = 0;
  int pauses = 0;
  int resumes = 0;
  bool start_result = true;
  bool banner_seen = true;
  bool child_running = false;
  queue::EncoderEvents* events_ = nullptr;
};

// A clock the test moves by hand. Ticks come only from Advance and Tick;
// Wait counts, moves the time and calls `on_wait`.
class FakeRunnerClock : public queue::RunnerClock {
 public:
  TimePoint Now() const override { return now_; }
  void StartTicks(std::chrono::seconds interval, std::function<void()> tick) override;
  void StopTicks() override { ticking_ = false; }
  void Wait(std::chrono::milliseconds duration) override;

  // Moves the time on, ticking at every interval that passes.
  void Advance(std::chrono::milliseconds duration);
  // A tick now, without moving the time.
  void Tick();
  bool Ticking() const { return ticking_; }

  std::function<void()> on_wait;
  int waits = 0;

 private:
  TimePoint now_{std::chrono::hours(100)};
  TimePoint next_tick_{};
  std::chrono::seconds interval_{0};
  std::function<void()> tick_;
  bool ticking_ = false;
};

}  // namespace kv_test
