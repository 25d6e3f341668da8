#include "outside/producer/volume_writer.h"

namespace producer {

VolumeWriter::VolumeWriter(std::unique_ptr<RealMediaOutput> output, AudioStore* store,
                           bool sound_queued, AVRational frame_rate)
    : output_(std::move(output)),
      store_(store),
      frame_rate_(frame_rate),
      header_bytes_(output_->PartBytes()),
      audio_ended_(!sound_queued) {}

double VolumeWriter::Seconds(int64_t frame) const {
  return static_cast<double>(frame) * frame_rate_.den / frame_rate_.num;
}

int64_t VolumeWriter::PartBytes() const {
  // While the old part waits for its sound, the new part holds what waits.
  return roll_frame_ >= 0 ? header_bytes_ + held_bytes_ : output_->PartBytes();
}

int64_t VolumeWriter::AudioBytesLeft() const {
  return store_ ? store_->PayloadBytes() - store_written_bytes_ : 0;
}

int64_t VolumeWriter::AudioFramesLeft() const {
  return store_ ? static_cast<int64_t>(store_->Count() - store_next_) : 0;
}

bool VolumeWriter::WriteAudioBefore(double seconds, std::string* error) {
  if (store_) {
    std::vector<uint8_t> bytes;
    while (store_next_ < store_->Count() && store_->StartOf(store_next_) < seconds) {
      if (!store_->Read(store_next_, &bytes)) {
        *error = "cannot read the sound back from its temporary file";
        return false;
      }
      if (!output_->WriteAudio(bytes.data(), static_cast<int>(bytes.size()),
                               store_->StartOf(store_next_), error))
        return false;
      store_written_bytes_ += static_cast<int64_t>(bytes.size());
      ++store_next_;
    }
    return true;
  }
  while (!pending_audio_.empty() && pending_audio_.front().second < seconds) {
    const auto& [bytes, start] = pending_audio_.front();
    if (!output_->WriteAudio(bytes.data(), static_cast<int>(bytes.size()), start, error))
      return false;
    pending_audio_.pop_front();
  }
  return true;
}

bool VolumeWriter::SoundCompleteBefore(double seconds) const {
  if (store_ || audio_ended_) return true;
  return !pending_audio_.empty() && pending_audio_.back().second >= seconds;
}

bool VolumeWriter::TryRollOver(std::string* error) {
  if (roll_frame_ < 0 || !SoundCompleteBefore(Seconds(roll_frame_))) return true;
  if (!WriteAudioBefore(Seconds(roll_frame_), error) || !output_->StartNextPart(roll_frame_, error))
    return false;
  roll_frame_ = -1;
  std::vector<HeldVideo> held;
  held.swap(held_);
  held_bytes_ = 0;
  for (const HeldVideo& v : held)
    if (!Video(v.frame, v.bytes.data(), static_cast<int>(v.bytes.size()), v.key, error))
      return false;
  return true;
}

bool VolumeWriter::QueueAudio(const uint8_t* data, int size, double start_seconds,
                              std::string* error) {
  pending_audio_.emplace_back(std::vector<uint8_t>(data, data + size), start_seconds);
  return TryRollOver(error);
}

bool VolumeWriter::AudioEnded(std::string* error) {
  audio_ended_ = true;
  return TryRollOver(error);
}

bool VolumeWriter::Video(int64_t frame, const uint8_t* data, int size, bool key,
                         std::string* error) {
  if (roll_frame_ >= 0) {
    held_.push_back(HeldVideo{frame, std::vector<uint8_t>(data, data + size), key});
    held_bytes_ += size;
    return true;
  }
  return WriteAudioBefore(Seconds(frame + 1), error) &&
         output_->WriteVideo(data, size, key, frame, error);
}

bool VolumeWriter::RollOverBefore(int64_t frame, std::string* error) {
  if (roll_frame_ >= 0) {
    *error = "a roll-over was asked for before the last one was done";
    return false;
  }
  roll_frame_ = frame;
  return TryRollOver(error);
}

bool VolumeWriter::Finish(int64_t end_frame, std::string* error) {
  audio_ended_ = true;
  return TryRollOver(error) && WriteAudioBefore(Seconds(end_frame), error) &&
         output_->Finish(error);
}

}  // namespace producer
