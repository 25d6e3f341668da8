#pragma once

#include <cstdint>

namespace player {

// Where playback is on the clip's time line, from a clock in seconds: the
// sound device's clock while sound plays, else the system's. Pure: the
// window asks it which frame to show.
class Playback {
 public:
  // `fps` = numerator / denominator.
  Playback(int64_t frame_count, uint32_t fps_numerator, uint32_t fps_denominator);

  void Play(double now);
  void Pause(double now);
  bool Playing() const { return playing_; }
  // Moves to the start of `frame`; playing goes on from there.
  void Seek(int64_t frame, double now);

  // The clip time at `now`, held at the clip's end.
  double PositionAt(double now) const;
  // The frame that shows at `now`.
  int64_t FrameAt(double now) const;
  // Playback has passed the last frame's end.
  bool EndedAt(double now) const;

  double FrameSeconds() const { return frame_seconds_; }
  double Duration() const { return static_cast<double>(frame_count_) * frame_seconds_; }
  int64_t FrameCount() const { return frame_count_; }
  double StartOf(int64_t frame) const { return static_cast<double>(frame) * frame_seconds_; }

 private:
  int64_t frame_count_;
  double frame_seconds_;
  bool playing_ = false;
  double origin_position_ = 0;  // clip time when the clock read origin_clock_
  double origin_clock_ = 0;
};

// "h:mm:ss" of whole seconds.
const char* FormatTime(double seconds, char* text, int size);

}  // namespace player
