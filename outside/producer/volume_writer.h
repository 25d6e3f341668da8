#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "outside/producer/codecs.h"
#include "outside/producer/rm_output.h"

namespace producer {

// Writes a volume's coded frames into its RealMedia parts: interleaves the
// sound of the store (coded on a thread of its own; the writer waits for
// the frames it needs) with the pictures by time, and rolls over to a new
// part before a given frame, so that each part's sound starts and ends
// with its pictures.
class VolumeWriter {
 public:
  // Sound comes from `store` when it is not null.
  VolumeWriter(std::unique_ptr<RealMediaOutput> output, AudioStore* store, AVRational frame_rate);

  // Coded picture `frame` of the clip, in order, after the sound that
  // starts before its end.
  bool Video(int64_t frame, const uint8_t* data, int size, bool key, std::string* error);
  // The part ends before picture `frame`, which is to be a key frame.
  bool RollOverBefore(int64_t frame, std::string* error);
  // Writes the sound that starts before picture `end_frame` and ends the
  // last part.
  bool Finish(int64_t end_frame, std::string* error);
  void Discard() { output_->Discard(); }

  // Bytes written, in all and in the current part.
  int64_t TotalBytes() const { return output_->TotalBytes(); }
  int64_t PartBytes() const { return output_->PartBytes(); }
  const std::vector<std::string>& Files() const { return output_->Files(); }
  int64_t HeaderBytes() const { return header_bytes_; }

 private:
  double Seconds(int64_t frame) const;
  bool WriteAudioBefore(double seconds, std::string* error);

  std::unique_ptr<RealMediaOutput> output_;
  AudioStore* store_;
  AVRational frame_rate_;
  int64_t header_bytes_ = 0;
  size_t store_next_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace producer
