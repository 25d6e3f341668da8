#include "outside/player/clip_reader.h"

#include <algorithm>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace player {
namespace {

constexpr size_t kPicturesAhead = 8;
constexpr double kSoundAheadSeconds = 1.0;
constexpr double kSoundStepSeconds = 0.1;

}  // namespace

ClipReader::ClipReader(std::unique_ptr<kv_video_file::VideoFile> clip)
    : clip_(std::move(clip)), info_(clip_->Info()) {
  worker_ = std::thread([this] { Run(); });
}

ClipReader::~ClipReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }
  worker_.join();
}

void ClipReader::Seek(int64_t frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++generation_;
  next_frame_ = frame;
  next_sample_ =
      info_.fps_numerator
          ? av_rescale(frame, static_cast<int64_t>(info_.audio_rate) * info_.fps_denominator,
                       info_.fps_numerator)
          : 0;
  pictures_.clear();
  sound_.clear();
  error_.clear();
  changed_.notify_all();
}

void ClipReader::SkipTo(int64_t frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  next_frame_ = std::max(next_frame_, std::min(frame, info_.frame_count - 1));
}

std::optional<Picture> ClipReader::TakePicture(int64_t frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<Picture> latest;
  while (!pictures_.empty() && pictures_.front().frame <= frame) {
    latest = std::move(pictures_.front());
    pictures_.pop_front();
  }
  changed_.notify_all();
  return latest;
}

int64_t ClipReader::NextFrame() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return next_frame_;
}

QByteArray ClipReader::TakeSound(qsizetype max_bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  const qsizetype bytes_per_sample = 2 * std::max(1, info_.channels);
  const qsizetype count = std::min(max_bytes, sound_.size()) / bytes_per_sample * bytes_per_sample;
  QByteArray taken = sound_.left(count);
  sound_.remove(0, count);
  changed_.notify_all();
  return taken;
}

bool ClipReader::SoundDone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sound_.isEmpty() && next_sample_ >= info_.sample_count;
}

std::string ClipReader::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pictures_.empty() ? error_ : std::string();
}

bool ClipReader::WantSound() const {
  const qsizetype ahead = static_cast<qsizetype>(info_.audio_rate * kSoundAheadSeconds) * 2 *
                          std::max(1, info_.channels);
  return HasSound() && sound_.size() < ahead && next_sample_ < info_.sample_count;
}

bool ClipReader::WantPicture() const {
  return pictures_.size() < kPicturesAhead && next_frame_ < info_.frame_count;
}

void ClipReader::Run() {
  for (;;) {
    uint64_t generation;
    bool sound;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock,
                    [&] { return stop_ || (error_.empty() && (WantSound() || WantPicture())); });
      if (stop_) return;
      generation = generation_;
      sound = WantSound();
    }
    // The sound first: a late picture is skipped, a gap in the sound is heard.
    if (sound)
      ReadSound(generation);
    else
      ReadPicture(generation);
  }
}

void ClipReader::ReadSound(uint64_t generation) {
  int64_t start;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    start = next_sample_;
  }
  const auto step = static_cast<int64_t>(info_.audio_rate * kSoundStepSeconds);
  const int64_t count = std::max<int64_t>(1, std::min(step, info_.sample_count - start));
  std::vector<int16_t> samples(static_cast<size_t>(count * info_.channels));
  const bool ok = clip_->Audio(start, count, KVFS_SAMPLE_S16, samples.data());
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;  // a seek meanwhile
  if (!ok) {
    error_ = "sound: " + clip_->Error();
    return;
  }
  sound_.append(reinterpret_cast<const char*>(samples.data()),
                static_cast<qsizetype>(samples.size() * sizeof(int16_t)));
  next_sample_ = start + count;
}

void ClipReader::ReadPicture(uint64_t generation) {
  Picture picture;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    picture.frame = next_frame_++;
  }
  const kvfs_frame* frame = clip_->Frame(picture.frame);
  if (frame) picture.image = converter_.ToImage(*frame);
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  if (!frame) {
    error_ = "frame " + std::to_string(picture.frame) + ": " + clip_->Error();
  } else if (picture.image.isNull()) {
    error_ = "frame " + std::to_string(picture.frame) + ": the picture cannot be converted";
  } else {
    pictures_.push_back(std::move(picture));
  }
}

}  // namespace player
