#include "outside/player/playback_control.h"

#include <algorithm>

namespace player {

PlaybackControl::PlaybackControl(const Playback& timeline, FrameSource& source, Clock clock)
    : timeline_(timeline), source_(source), clock_(std::move(clock)) {}

PlaybackControl::Step PlaybackControl::Tick() {
  Step step;
  if (!error_.empty()) return step;
  const double now = clock_();
  const int64_t frame = timeline_.FrameAt(now);
  if (std::optional<Picture> picture = source_.TakePicture(frame)) {
    if (skip_ && picture->frame >= skip_->first) {
      lead_ = std::min(kMaxLead, now - skip_->second);
      skip_.reset();
    }
    presented_frame_ = picture->frame;
    step.picture = std::move(picture);
  }
  error_ = source_.Error();
  if (!error_.empty()) {
    timeline_.Pause(now);
    step.failed = true;
    return step;
  }
  if (timeline_.Playing()) CatchUp(now);
  // At the end the last picture stays and playback stops.
  if (timeline_.Playing() && timeline_.EndedAt(now) &&
      presented_frame_ == timeline_.FrameCount() - 1) {
    timeline_.Pause(now);
    step.ended = true;
  }
  return step;
}

void PlaybackControl::CatchUp(double now) {
  // Reading would start on frames whose time has passed: it goes on where
  // the clock will be when the picture has been read.
  if (source_.NextFrame() >= timeline_.FrameAt(now)) return;
  const int64_t target = timeline_.FrameAt(now + lead_);
  source_.SkipTo(target);
  if (!skip_) skip_.emplace(target, now);
}

void PlaybackControl::Play() {
  if (timeline_.Playing()) return;
  const double now = clock_();
  // From a frame's start, where the sound read again begins too.
  const int64_t frame = timeline_.EndedAt(now) ? 0 : std::max<int64_t>(0, timeline_.FrameAt(now));
  Seek(frame);
  timeline_.Play(clock_());
}

void PlaybackControl::Pause() {
  timeline_.Pause(clock_());
}

void PlaybackControl::Seek(int64_t frame) {
  error_.clear();
  skip_.reset();
  source_.Seek(frame);
  timeline_.Seek(frame, clock_());
}

}  // namespace player
