#pragma once

#include <optional>
#include <string_view>

namespace producer {

// A RealAudio codec row: the bit rate and the channels that the codec name
// and flavour of the settings' audio codec table stand for.
struct AudioCodecRow {
  int kbps = 0;  // 1 Kbps = 1024 bit/s
  int channels = 0;
};

// None for a codec and flavour that no row of the table has.
std::optional<AudioCodecRow> FindAudioCodecRow(std::string_view codec, int flavour);

}  // namespace producer
