#include "outside/player/clip_reader.h"

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
  seek_frame_ = frame;
  pictures_.clear();
  sound_.clear();
  changed_.notify_all();
}

std::optional<ClipReader::Picture> ClipReader::TakePicture(int64_t frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<Picture> latest;
  while (!pictures_.empty() && pictures_.front().frame <= frame) {
    latest = std::move(pictures_.front());
    pictures_.pop_front();
  }
  changed_.notify_all();
  return latest;
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

std::string ClipReader::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

bool ClipReader::ReadPicture(int64_t frame, Picture* picture) {
  const kvfs_frame* f = clip_->Frame(frame);
  if (!f) return false;
  picture->frame = frame;
  picture->image = converter_.ToImage(*f);
  return !picture->image.isNull();
}

void ClipReader::Run() {
  uint64_t generation = ~uint64_t{0};
  int64_t next_frame = 0, next_sample = 0;
  const int64_t sound_step = static_cast<int64_t>(info_.audio_rate * kSoundStepSeconds);
  const qsizetype bytes_per_sample = 2 * std::max(1, info_.channels);
  const qsizetype sound_ahead =
      static_cast<qsizetype>(info_.audio_rate * kSoundAheadSeconds) * bytes_per_sample;
  std::vector<int16_t> samples;
  for (;;) {
    bool want_picture = false, want_sound = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] {
        if (stop_) return true;
        if (generation != generation_) return true;
        if (!error_.empty()) return false;
        return (pictures_.size() < kPicturesAhead && next_frame < info_.frame_count) ||
               (HasSound() && sound_.size() < sound_ahead && next_sample < info_.sample_count);
      });
      if (stop_) return;
      if (generation != generation_) {
        generation = generation_;
        next_frame = seek_frame_;
        next_sample =
            info_.fps_numerator
                ? av_rescale(seek_frame_,
                             static_cast<int64_t>(info_.audio_rate) * info_.fps_denominator,
                             info_.fps_numerator)
                : 0;
      }
      want_picture = pictures_.size() < kPicturesAhead && next_frame < info_.frame_count;
      want_sound = HasSound() && sound_.size() < sound_ahead && next_sample < info_.sample_count;
    }
    if (want_picture) {
      Picture picture;
      const bool ok = ReadPicture(next_frame, &picture);
      std::lock_guard<std::mutex> lock(mutex_);
      if (!ok) {
        error_ = "frame " + std::to_string(next_frame) + ": " + clip_->Error();
      } else if (generation == generation_) {
        pictures_.push_back(std::move(picture));
        ++next_frame;
      }
    }
    if (want_sound) {
      const int64_t count = std::min(sound_step, info_.sample_count - next_sample);
      samples.resize(static_cast<size_t>(count * info_.channels));
      const bool ok = clip_->Audio(next_sample, count, KVFS_SAMPLE_S16, samples.data());
      std::lock_guard<std::mutex> lock(mutex_);
      if (!ok) {
        error_ = "sound: " + clip_->Error();
      } else if (generation == generation_) {
        sound_.append(reinterpret_cast<const char*>(samples.data()),
                      static_cast<qsizetype>(samples.size() * sizeof(int16_t)));
        next_sample += count;
      }
    }
  }
}

}  // namespace player
