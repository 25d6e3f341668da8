// The search for MPEG start code prefixes (00 00 01) in a run of bytes: the
// one loop of the index run that touches every byte of the video payload.
#pragma once

#include <cstdint>

namespace tessmar {

// The first 00 00 01 prefix that begins in [begin, end) with its code byte
// also before `end` (so at most end - 4); null when there is none.
const uint8_t* FindStartCodePrefix(const uint8_t* begin, const uint8_t* end);

}  // namespace tessmar
