// libFuzzer target: arbitrary bytes as an encoder job file. Whatever the
// reader accepts must hold values the encoder can work with.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "outside/producer/job_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto job = producer::ParseProducerJob(std::string_view(reinterpret_cast<const char*>(data), size),
                                        &error);
  if (!job) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  if (job->input.empty() || job->output.empty() || job->average_bitrate < 1 ||
      job->maximum_bitrate < job->average_bitrate || job->encoder_complexity > 100 ||
      job->max_key_frame_interval <= 0 || job->roll_size_mb < 0 ||
      (job->WantsAudio() && (job->audio_kbps <= 0 || job->audio_channels <= 0)))
    __builtin_trap();
  return 0;
}
