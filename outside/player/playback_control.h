#pragma once

#include <functional>
#include <optional>
#include <string>

#include "outside/player/frame_source.h"
#include "outside/player/playback.h"

namespace player {

// The player's rules, apart from its window: the clock (the sound device's
// while sound plays) says which frame shows; when the picture falls behind
// it, reading skips ahead to where the clock will be once the picture is
// read, so the picture never drifts from the sound; a read error stops
// playback until a seek.
class PlaybackControl {
 public:
  // Seconds of a steady clock.
  using Clock = std::function<double()>;
  // The longest read time reading skips ahead by.
  static constexpr double kMaxLead = 1.0;

  PlaybackControl(const Playback& timeline, FrameSource& source, Clock clock);

  // What one tick brought.
  struct Step {
    std::optional<Picture> picture;  // a new picture to show
    bool ended = false;              // playback stopped at the end
    bool failed = false;             // playback stopped on a read error (Error())
  };
  Step Tick();

  // Plays from the frame shown, or from the start after the end; reading
  // starts again there.
  void Play();
  void Pause();
  // Moves to `frame` and reads from there; a read error is cleared.
  void Seek(int64_t frame);

  bool Playing() const { return timeline_.Playing(); }
  const std::string& Error() const { return error_; }
  int64_t PresentedFrame() const { return presented_frame_; }
  double Position() const { return timeline_.PositionAt(clock_()); }
  const Playback& Timeline() const { return timeline_; }
  // How long reading took to reach the frame it last skipped to.
  double Lead() const { return lead_; }

 private:
  void CatchUp(double now);

  Playback timeline_;
  FrameSource& source_;
  Clock clock_;
  std::string error_;
  int64_t presented_frame_ = -1;
  double lead_ = 0;
  // The frame reading last skipped to and the clock then, until it shows.
  std::optional<std::pair<int64_t, double>> skip_;
};

}  // namespace player
