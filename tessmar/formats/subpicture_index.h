// The sub-picture index ("_st<n>.qmsi") of one sub-picture stream of a title
// set, and its stream file ("_st<n>.sub"): the stream's packs, 2048 bytes
// each, copied whole; the index gives the time stamp and the place in the
// stream file of each pack whose packet carries a time stamp.
//
//   qmSubpictureIndex10
//   <empty line>
//   <vob_id> <cell_id> <PTS, hex> <offset in the stream file, hex>
//   ...
//   <empty line>
//   .              (only when the run finished)
#pragma once

#include <cstdint>
#include <string>

namespace tessmar::formats {

inline constexpr char kSubpictureIndexMagic[] = "qmSubpictureIndex";
inline constexpr int kSubpictureIndexVersion = 10;
inline constexpr int kMaxSubpictureStreams = 32;
inline constexpr int kSubpicturePackBytes = 2048;

struct SubpictureEntry {
  int vob_id = 0;
  int cell_id = 0;
  unsigned pts = 0;  // low 32 bits, 90 kHz ticks
  uint64_t offset = 0;
};

// "<base>_st<n>.qmsi" and "<base>_st<n>.sub".
std::string SubpictureIndexName(const std::string& base, int stream);
std::string SubpictureStreamName(const std::string& base, int stream);
void AppendSubpictureIndexHead(std::string* out);
void AppendSubpictureEntry(std::string* out, const SubpictureEntry& entry);
// False when the line is not an entry (the end mark, for one).
bool ScanSubpictureEntry(const std::string& line, SubpictureEntry* entry);

}  // namespace tessmar::formats
