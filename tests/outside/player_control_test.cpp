// The preview player's rules on their own: a frame source whose reads take
// a set time on a clock the test moves, so a slow frameserver is played out
// without sleeping and without a window.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "outside/player/playback_control.h"

namespace {

constexpr double kFrame = 0.04;  // 25 frames per second
constexpr double kTick = 0.005;  // the window's timer

// Reads one picture at a time, each taking `read_seconds` of the clock,
// up to eight ahead, like the player's reader; frame `fail_at` fails once.
class TimedSource : public player::FrameSource {
 public:
  TimedSource(const double& clock, double read_seconds, int64_t frames)
      : clock_(clock), read_seconds_(read_seconds), frames_(frames) {}

  mutable int64_t fail_at = -1;  // the frame whose next read fails
  mutable int reads = 0;         // reads finished

  void Seek(int64_t frame) override {
    next_ = frame;
    reading_ = -1;
    pictures_.clear();
    error_.clear();
  }
  void SkipTo(int64_t frame) override {
    Advance();
    next_ = std::max(next_, std::min(frame, frames_ - 1));
  }
  std::optional<player::Picture> TakePicture(int64_t frame) override {
    Advance();
    std::optional<player::Picture> latest;
    while (!pictures_.empty() && pictures_.front().frame <= frame) {
      latest = pictures_.front();
      pictures_.pop_front();
    }
    return latest;
  }
  int64_t NextFrame() const override {
    Advance();
    return next_;
  }
  std::string Error() const override {
    Advance();
    return pictures_.empty() ? error_ : std::string();
  }

 private:
  // Plays the reads that end by the clock's time.
  void Advance() const {
    for (;;) {
      if (reading_ < 0) {
        if (!error_.empty() || pictures_.size() >= 8 || next_ >= frames_) return;
        reading_ = next_++;
        read_end_ = std::max(read_end_, clock_) + read_seconds_;
      }
      if (clock_ < read_end_) return;
      ++reads;
      if (reading_ == fail_at) {
        fail_at = -1;
        error_ = "frame " + std::to_string(reading_) + ": no picture";
      } else {
        pictures_.push_back({reading_, {}});
      }
      reading_ = -1;
    }
  }

  const double& clock_;
  const double read_seconds_;
  const int64_t frames_;
  mutable int64_t next_ = 0;
  mutable int64_t reading_ = -1;
  mutable double read_end_ = 0;
  mutable std::deque<player::Picture> pictures_;
  mutable std::string error_;
};

TEST(PlayerControl, ThePictureKeepsToTheClockWhateverTheReadsCost) {
  // Seconds per read, from faster than the clip's rate to a frameserver
  // that serves under two frames a second.
  for (double read : {0.001, 0.02, 0.1, 0.25, 0.6}) {
    SCOPED_TRACE("a read takes " + std::to_string(read) + " s");
    double clock = 100.0;
    TimedSource source(clock, read, 200);  // 8 s
    player::PlaybackControl control(player::Playback(200, 25, 1), source, [&] { return clock; });
    control.Play();
    const double start = clock;
    int shown = 0;
    double worst_lag = 0, ended_at = -1;
    for (; clock < start + 10.0 && ended_at < 0; clock += kTick) {
      player::PlaybackControl::Step step = control.Tick();
      ASSERT_FALSE(step.failed);
      if (step.ended) ended_at = clock - start;
      if (!step.picture) continue;
      ++shown;
      // Never before its time; never further behind than a skip costs.
      const double lag = (clock - start) - step.picture->frame * kFrame;
      EXPECT_GE(lag, -1e-9) << step.picture->frame;
      if (clock - start > 2 * read) worst_lag = std::max(worst_lag, lag);
    }
    EXPECT_LE(worst_lag, 2 * read + kFrame + kTick);
    // The clip ends on time, its last picture shown.
    EXPECT_NEAR(ended_at, 8.0, 2 * read + kTick);
    EXPECT_EQ(control.PresentedFrame(), 199);
    if (read < kFrame) {
      EXPECT_EQ(shown, 200);  // every frame, in turn
    } else {
      // Most reads show: few are spent on frames whose time has passed.
      EXPECT_GE(shown, static_cast<int>(8.0 / read / 2));
      EXPECT_LE(control.Lead(), player::PlaybackControl::kMaxLead);
    }
  }
}

TEST(PlayerControl, AReadErrorStopsPlaybackUntilASeek) {
  double clock = 0;
  TimedSource source(clock, 0.001, 100);
  source.fail_at = 10;
  player::PlaybackControl control(player::Playback(100, 25, 1), source, [&] { return clock; });
  control.Play();
  bool failed = false;
  for (; clock < 2.0 && !failed; clock += kTick) failed = control.Tick().failed;
  ASSERT_TRUE(failed);
  EXPECT_FALSE(control.Playing());
  EXPECT_EQ(control.Error(), "frame 10: no picture");
  EXPECT_EQ(control.PresentedFrame(), 9);
  const double stopped_at = control.Position();
  // Stopped: the clock runs on, nothing more is shown or read.
  const int reads = source.reads;
  for (int i = 0; i < 100; ++i, clock += kTick) {
    const player::PlaybackControl::Step step = control.Tick();
    EXPECT_FALSE(step.picture || step.failed || step.ended);
  }
  EXPECT_EQ(control.Position(), stopped_at);
  EXPECT_EQ(source.reads, reads);
  // A seek clears the error and shows the frame sought; Play goes on from it.
  control.Seek(12);
  EXPECT_EQ(control.Error(), "");
  for (int i = 0; i < 10 && control.PresentedFrame() != 12; ++i, clock += kTick) control.Tick();
  EXPECT_EQ(control.PresentedFrame(), 12);
  control.Play();
  for (; clock < 10.0 && control.Playing(); clock += kTick) EXPECT_FALSE(control.Tick().failed);
  EXPECT_EQ(control.PresentedFrame(), 99);
  EXPECT_EQ(control.Error(), "");
}

}  // namespace
