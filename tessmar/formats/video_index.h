// The video index (".qmvi") of one title, which the decoder opens: the
// project file layout with the title's virtual file map in place of the VOB
// files and GOP positions in that virtual file.
//
//   qmVideoIndex06
//   1
//   <name length> <name of the ".vfm" beside it>
//   <empty line>
//   Stream_Type=1 ... Frame_Rate=29970   the nine header lines of the ".d2v"
//   Location=0,0,0,0
//   <empty line>
//   7 0 <position> <vob_id> <cell_id> <frame flag, hex> ...   one line per GOP
//   ... 9
//   <empty line>
//   FINISHED  95.23% FILM           the ".d2v" trailer
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessmar/formats/d2v.h"

namespace tessmar::formats {

inline constexpr char kVideoIndexMagic[] = "qmVideoIndex";
inline constexpr int kVideoIndexMaxVersion = kD2vMaxVersion;
inline constexpr char kVideoIndexLocation[] = "Location=0,0,0,0\n";

// The head up to the empty line after the map's name; the version is the
// project file's.
void AppendVideoIndexHead(std::string* out, int version, const std::string& map_name);
// A GOP line goes in front of its line end: "\n" then the head in the
// virtual file (file 0), then the frame flags as the project file has them.
void AppendVideoIndexGopHead(std::string* out, int64_t position, int vob_id, int cell_id);
// Closes the last GOP line and adds the project file's trailer line.
void AppendVideoIndexEnd(std::string* out, const std::string& trailer);

struct Gop {
  int64_t position = 0;     // of the pack holding the I-picture, in the virtual file
  int32_t first_frame = 0;  // coded frame number of its first frame in display order
  int32_t frame_count = 0;
};

struct VideoIndex {
  std::string map_name;  // the ".vfm" by bare name, beside the index
  int width = 0;
  int height = 0;
  int frame_rate_milli = 0;  // 25000, 29970, 23976
  int aspect_code = 0;
  bool pc_scale = true;  // YUVRGB_Scale=1: luma 16-235 stretched to 0-255
  std::vector<Gop> gops;
  std::vector<uint8_t> flags;  // per coded frame
};

// False when the text is not a complete video index (wrong head, missing
// size or rate, a malformed GOP line, no closing " 9").
bool ParseVideoIndex(const std::string& text, VideoIndex* index);

}  // namespace tessmar::formats
