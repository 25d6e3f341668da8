// Reading a sub-picture stream file (".sub": the stream's 2048-byte packs as
// the DVD holds them) and the start of a title's picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vsfilter {

// The sub-picture unit that starts in the pack at `position`: the payloads
// of the packs of its sub-stream from there on, up to the unit's size (its
// first two bytes). False when the data there is not such a unit or ends
// before it is whole.
bool ReadSubpictureUnit(const std::string& stream, uint64_t position, std::vector<uint8_t>* unit);

// The presentation time (90 kHz) at which the title's picture starts: the
// start time of its first video object unit, from the navigation pack at
// the start of the title's program stream; else the first picture's time
// stamp in the first packs. False when neither is found.
bool PictureStartTime(const uint8_t* data, size_t size, uint32_t* pts);

}  // namespace vsfilter
