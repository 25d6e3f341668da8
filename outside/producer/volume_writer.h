#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "outside/producer/codecs.h"
#include "outside/producer/rm_output.h"

namespace producer {

// Writes a volume's coded frames into its RealMedia parts: interleaves the
// sound with the picture by time, and rolls over to a new part before a
// given frame. Sound comes either from the store of the analysis pass (all
// of it known) or from the encoder as the pass goes (then the audio
// encoder still holds the last frames' sound when a roll-over is asked for:
// the old part stays open, and the new part's pictures wait, until every
// audio frame that starts before the roll-over has come out, so that each
// part's sound starts and ends with its pictures).
class VolumeWriter {
 public:
  // Sound comes from `store` when it is not null, through QueueAudio when
  // `sound_queued`, or not at all.
  VolumeWriter(std::unique_ptr<RealMediaOutput> output, AudioStore* store, bool sound_queued,
               AVRational frame_rate);

  // A coded frame of the sound, in order (one pass).
  bool QueueAudio(const uint8_t* data, int size, double start_seconds, std::string* error);
  // The encoder has given all its sound.
  bool AudioEnded(std::string* error);
  // Coded picture `frame` of the clip, in order.
  bool Video(int64_t frame, const uint8_t* data, int size, bool key, std::string* error);
  // The part ends before picture `frame`, which is to be a key frame.
  bool RollOverBefore(int64_t frame, std::string* error);
  // Writes what waits and ends the last part, with the sound that starts
  // before picture `end_frame`.
  bool Finish(int64_t end_frame, std::string* error);
  void Discard() { output_->Discard(); }

  // Bytes written and waiting, in all and in the part the next frame goes to.
  int64_t TotalBytes() const { return output_->TotalBytes() + held_bytes_; }
  int64_t PartBytes() const;
  // Coded sound bytes not yet written (store), and their frames.
  int64_t AudioBytesLeft() const;
  int64_t AudioFramesLeft() const;
  const std::vector<std::string>& Files() const { return output_->Files(); }
  int64_t HeaderBytes() const { return header_bytes_; }

 private:
  struct HeldVideo {
    int64_t frame;
    std::vector<uint8_t> bytes;
    bool key;
  };
  double Seconds(int64_t frame) const;
  bool WriteAudioBefore(double seconds, std::string* error);
  // The sound before `seconds` has all come out of the encoder.
  bool SoundCompleteBefore(double seconds) const;
  bool TryRollOver(std::string* error);

  std::unique_ptr<RealMediaOutput> output_;
  AudioStore* store_;
  AVRational frame_rate_;
  int64_t header_bytes_ = 0;
  size_t store_next_ = 0;
  int64_t store_written_bytes_ = 0;
  std::deque<std::pair<std::vector<uint8_t>, double>> pending_audio_;
  bool audio_ended_ = false;
  int64_t roll_frame_ = -1;  // a roll-over waiting for the sound
  std::vector<HeldVideo> held_;
  int64_t held_bytes_ = 0;
};

}  // namespace producer
