#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace dvd {

// Identity of a disc: a running CRC-32 over the navigation files' contents
// and the VOB files' names and sizes. It does not depend on where the folder
// lies, so a moved copy of a disc is still recognised.
using DiscChecksum = uint32_t;

inline constexpr DiscChecksum kDiscChecksumStart = 0xFFFFFFFF;
// IFO files are read whole; anything larger is no navigation file.
inline constexpr int64_t kMaxChecksumFileSize = 16777216;

// One step of the running value: zlib's CRC-32 update, which inverts the value
// before and after, chained from kDiscChecksumStart.
DiscChecksum AddToChecksum(DiscChecksum value, std::span<const uint8_t> bytes);

// Checksum of the DVD folder (the one holding "VIDEO_TS.IFO"); none when an
// IFO file cannot be read or is too large, or a VOB size cannot be read.
std::optional<DiscChecksum> ComputeDiscChecksum(const std::string& dvd_folder);

}  // namespace dvd
