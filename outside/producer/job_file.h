#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace producer {

enum class EncodingType { Bitrate, Quality };

// What an encoder job file asks for, with every value checked.
struct ProducerJob {
  bool two_pass = false;

  // Clip information, carried into the file's content description.
  std::string title;
  std::string author;
  std::string copyright;
  std::string keywords;
  std::string description;
  int rating = 0;

  std::string input;         // the script, relative to the working folder
  std::string output;        // the first output file, likewise
  int64_t roll_size_mb = 0;  // 0: one file

  bool disable_audio = false;
  int output_width = 0;  // 0: the input's size
  int output_height = 0;

  int64_t average_bitrate = 0;  // bit/s, all streams and the container
  int64_t maximum_bitrate = 0;

  // The video stream.
  EncodingType encoding_type = EncodingType::Bitrate;
  int quality = 100;                   // 0..100, for EncodingType::Quality
  int encoder_complexity = 90;         // 0..100: speed against quality of the encoding pass
  int first_pass_complexity = 50;      // likewise for the analysis pass
  double max_frame_rate = 0;           // frames per second; 0: the input's
  double max_key_frame_interval = 10;  // seconds

  // The audio stream: the codec row named by codec and flavour.
  bool has_audio_stream = false;
  std::string audio_codec;
  int audio_flavour = 0;
  // What that row stands for.
  int audio_kbps = 0;  // 1 Kbps = 1024 bit/s
  int audio_channels = 0;

  // The audio stream is encoded.
  bool WantsAudio() const { return has_audio_stream && !disable_audio; }
};

// The job file's text read with an XML parser. None with a one-line
// reason in `error` when the text is no job file or a value is missing or
// out of range.
std::optional<ProducerJob> ParseProducerJob(std::string_view text, std::string* error);

// The same for a file; a file that cannot be read is an error too.
std::optional<ProducerJob> ReadProducerJob(const std::string& path, std::string* error);

}  // namespace producer
