// The frame headers of the compressed audio formats a DVD carries: where a
// frame starts, how long it is and how many samples it holds. Enough to cut
// an elementary stream into frames without decoding it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qmaudio {

enum class Codec { kAc3, kDts, kMpegAudio, kLpcm };

struct FrameHeader {
  int bytes = 0;    // the whole frame, header included
  int samples = 0;  // per channel
  int sample_rate = 0;
};

// Bytes a parser looks at; fewer at the end of a stream is a failure.
inline constexpr size_t kHeaderBytes = 16;

// False when `data` does not start with a valid header of the codec.
bool ParseAc3Header(const uint8_t* data, size_t size, FrameHeader* header);
bool ParseDtsHeader(const uint8_t* data, size_t size, FrameHeader* header);
bool ParseMpegAudioHeader(const uint8_t* data, size_t size, FrameHeader* header);
bool ParseHeader(Codec codec, const uint8_t* data, size_t size, FrameHeader* header);

}  // namespace qmaudio
