#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "outside/producer/codecs.h"
#include "outside/producer/processor_slots.h"

namespace kv_video_file {
class VideoFile;
}

namespace producer {

// Codes a volume's sound on a thread of its own, from an instance of the
// script of its own, into a store, while the workers code the pictures.
class SoundCoder {
 public:
  // Codes the sound of frames [0, frames) of `clip`, holding a processor
  // of `processors` (may be null) until it has ended.
  SoundCoder(kv_video_file::VideoFile& clip, AudioEncoder& encoder, AudioStore& store,
             int64_t frames, ProcessorSlots* processors = nullptr);
  ~SoundCoder();
  SoundCoder(const SoundCoder&) = delete;
  SoundCoder& operator=(const SoundCoder&) = delete;

  // The sound is wanted up to the end of frame `frames` at most (the run
  // was stopped there): the coding ends once it has that.
  void EndAfter(int64_t frames);
  // Waits until the coding has ended; false with the reason when it failed.
  bool Wait(std::string* error);

 private:
  void Run();

  kv_video_file::VideoFile& clip_;
  AudioEncoder& encoder_;
  AudioStore& store_;
  const int64_t frames_;
  ProcessorSlots* processors_;
  std::atomic<int64_t> limit_;
  std::string error_;
  std::thread thread_;
};

// What a volume's sound will take while it is still being coded: the
// bytes coded, and for the rest of its `seconds` the higher of the nominal
// rate and the rate so far (a quiet start says nothing of what follows).
// The rest may come out larger (the codec passes its lowest rates) by up
// to `unsure_bytes`; smaller (silence) only leaves more for the pictures.
struct SoundForecast {
  double bytes = 0;
  double unsure_bytes = 0;
};
// `most_bytes_per_second`: what the codec's frames can hold at most.
SoundForecast ForecastSound(const AudioStore::Tally& coded, double frame_seconds, double seconds,
                            double bytes_per_second, double most_bytes_per_second);

}  // namespace producer
