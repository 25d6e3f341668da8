#include "outside/producer/volume_writer.h"

namespace producer {

VolumeWriter::VolumeWriter(std::unique_ptr<RealMediaOutput> output, AudioStore* store,
                           AVRational frame_rate)
    : output_(std::move(output)),
      store_(store),
      frame_rate_(frame_rate),
      header_bytes_(output_->PartBytes()) {}

double VolumeWriter::Seconds(int64_t frame) const {
  return static_cast<double>(frame) * frame_rate_.den / frame_rate_.num;
}

bool VolumeWriter::WriteAudioBefore(double seconds, std::string* error) {
  if (!store_) return true;
  store_->WaitFor(seconds);
  const size_t count = store_->Count();
  while (store_next_ < count && store_->StartOf(store_next_) < seconds) {
    if (!store_->Read(store_next_, &bytes_)) {
      *error = "cannot read the sound back from its temporary file";
      return false;
    }
    if (!output_->WriteAudio(bytes_.data(), static_cast<int>(bytes_.size()),
                             store_->StartOf(store_next_), error))
      return false;
    ++store_next_;
  }
  return true;
}

bool VolumeWriter::Video(int64_t frame, const uint8_t* data, int size, bool key,
                         std::string* error) {
  return WriteAudioBefore(Seconds(frame + 1), error) &&
         output_->WriteVideo(data, size, key, frame, error);
}

bool VolumeWriter::RollOverBefore(int64_t frame, std::string* error) {
  return WriteAudioBefore(Seconds(frame), error) && output_->StartNextPart(frame, error);
}

bool VolumeWriter::Finish(int64_t end_frame, std::string* error) {
  return WriteAudioBefore(Seconds(end_frame), error) && output_->Finish(error);
}

}  // namespace producer
