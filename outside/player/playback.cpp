#include "outside/player/playback.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace player {

Playback::Playback(int64_t frame_count, uint32_t fps_numerator, uint32_t fps_denominator)
    : frame_count_(std::max<int64_t>(frame_count, 1)),
      frame_seconds_(fps_numerator ? static_cast<double>(fps_denominator) / fps_numerator
                                   : 1.0 / 25) {}

void Playback::Play(double now) {
  if (playing_) return;
  if (origin_position_ >= Duration() - 1e-9)
    origin_position_ = 0;  // played to the end: from the start
  origin_clock_ = now;
  playing_ = true;
}

void Playback::Pause(double now) {
  if (!playing_) return;
  origin_position_ = PositionAt(now);
  playing_ = false;
}

void Playback::Seek(int64_t frame, double now) {
  origin_position_ = StartOf(std::clamp<int64_t>(frame, 0, frame_count_ - 1));
  origin_clock_ = now;
}

double Playback::PositionAt(double now) const {
  const double position = playing_ ? origin_position_ + (now - origin_clock_) : origin_position_;
  return std::clamp(position, 0.0, Duration());
}

int64_t Playback::FrameAt(double now) const {
  // A hair of tolerance so that a clock exactly at a frame's start shows it.
  const auto frame = static_cast<int64_t>(std::floor(PositionAt(now) / frame_seconds_ + 1e-9));
  return std::clamp<int64_t>(frame, 0, frame_count_ - 1);
}

bool Playback::EndedAt(double now) const {
  return PositionAt(now) >= Duration() - 1e-9;
}

const char* FormatTime(double seconds, char* text, int size) {
  const auto whole = static_cast<long long>(std::max(0.0, seconds));
  std::snprintf(text, static_cast<size_t>(size), "%lld:%02lld:%02lld", whole / 3600,
                whole / 60 % 60, whole % 60);
  return text;
}

}  // namespace player
