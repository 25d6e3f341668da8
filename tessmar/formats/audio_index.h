// The audio index ("_at<n>.qmai") of one audio stream of a title set: every
// payload of the stream's packets, from the packet that registered it on.
//
//   qmAudioIndex10
//   <file count>
//   <path of each file>
//   <empty line>
//   <file index> <vob_id> <cell_id> <payload offset, hex> <payload length, hex>
//   ...
//   <empty line>
//   .              (only when the run finished)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessmar::formats {

inline constexpr char kAudioIndexMagic[] = "qmAudioIndex";
inline constexpr int kAudioIndexVersion = 10;
inline constexpr int kMaxAudioStreams = 8;

struct AudioEntry {
  int file = 0;
  int vob_id = 0;
  int cell_id = 0;
  uint64_t offset = 0;
  unsigned length = 0;
};

// "<base>_at<n>.qmai".
std::string AudioIndexName(const std::string& base, int stream);
void AppendAudioIndexHead(std::string* out, const std::vector<std::string>& paths);
void AppendAudioEntry(std::string* out, const AudioEntry& entry);
// False when the line is not an entry (the end mark, for one).
bool ScanAudioEntry(const std::string& line, AudioEntry* entry);

}  // namespace tessmar::formats
