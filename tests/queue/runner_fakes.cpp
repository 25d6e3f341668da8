#include "tests/queue/runner_fakes.h"

#include "platform/file_system.h"

namespace kv_test {

bool RecordingEncoder::StartVolume(const std::string& encoder_path, const std::string& job_file,
                                   int volume, int volumes, queue::PriorityClass priority) {
  starts.push_back({encoder_path, job_file, platform::CurrentFolder(), volume, volumes, priority});
  return start_result;
}

void RecordingEncoder::Progress(double percent, bool changed) {
  events_->ShowVolumeProgress(percent, changed);
}

void RecordingEncoder::Finish(int volume, int volumes) {
  events_->ShowVolumeProgress(100.0, true);
  events_->VolumeFinished(volume, volumes);
}

void RecordingEncoder::Stop(bool failed, const std::string& message) {
  events_->RunStopped(failed, message);
}

void FakeRunnerClock::StartTicks(std::chrono::seconds interval, std::function<void()> tick) {
  interval_ = interval;
  tick_ = std::move(tick);
  next_tick_ = now_ + interval;
  ticking_ = true;
}

void FakeRunnerClock::Wait(std::chrono::milliseconds duration) {
  ++waits;
  now_ += duration;
  if (on_wait) on_wait();
}

void FakeRunnerClock::Advance(std::chrono::milliseconds duration) {
  const TimePoint end = now_ + duration;
  while (ticking_ && next_tick_ <= end) {
    now_ = next_tick_;
    next_tick_ += interval_;
    tick_();
  }
  now_ = end;
}

void FakeRunnerClock::Tick() {
  if (ticking_) tick_();
}

}  // namespace kv_test
