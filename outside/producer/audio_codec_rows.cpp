#include "outside/producer/audio_codec_rows.h"

#include <cstring>

#include "wizard/settings_tables.h"

namespace producer {

std::optional<AudioCodecRow> FindAudioCodecRow(std::string_view codec, int flavour) {
  // The channel layouts of the four lists: surround is matrixed into two.
  constexpr int kChannels[] = {1, 2, 2, 6};
  for (int list = 0; list < 4; ++list) {
    for (const wizard::AudioCodecEntry& row : wizard::AudioCodecTable[list]) {
      if (row.Flavour == flavour && codec == std::string_view(row.Codec, strnlen(row.Codec, 8)))
        return AudioCodecRow{row.Kbps, kChannels[list]};
    }
  }
  return std::nullopt;
}

}  // namespace producer
