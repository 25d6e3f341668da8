// Numbers as DVD-Video navigation files store them: big-endian integers and
// binary-coded decimal bytes. Header only, so that the indexing library can
// read IFO files with the same helpers without linking the program's reader.
#pragma once

#include <cstdint>

namespace dvd {

inline uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

inline uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// 0x59 -> 59.
inline int FromBcd(uint8_t value) {
  return (value >> 4) * 10 + (value & 0x0F);
}

}  // namespace dvd
