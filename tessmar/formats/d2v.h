// The project file (".d2v") of a title set, in the DGIndex layout, and the
// GOP line layout that the video index (".qmvi") shares with it.
//
//   DGIndexProjectFile06
//   <file count>
//   <path length> <path>            one line per file
//   <empty line>
//   Stream_Type=1 ... Frame_Rate=29970   nine header lines
//   Location=0,0,<last file>,<sectors of the last file, hex>
//   <empty line>
//   7 <file> <position> <vob_id> <cell_id> <frame flag, hex> ...   one line per GOP
//   ... 9                           the last GOP line ends with " 9"
//   <empty line>
//   FINISHED  95.23% FILM           or INTERRUPTED
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessmar::formats {

inline constexpr char kD2vMagic[] = "DGIndexProjectFile";
inline constexpr char kD2vVersion[] = "06";
inline constexpr int kD2vMaxVersion = 6;
// Stream_Type
inline constexpr int kElementaryStream = 0;
inline constexpr int kProgramStream = 1;
// The header lines from Stream_Type to Frame_Rate, which the video index
// copies.
inline constexpr int kD2vHeaderLines = 9;
inline constexpr char kStreamTypeKey[] = "Stream_Type";
inline constexpr char kPictureSizeKey[] = "Picture_Size";
inline constexpr char kFrameRateKey[] = "Frame_Rate";
inline constexpr char kYuvRgbScaleKey[] = "YUVRGB_Scale";
inline constexpr char kAspectRatioKey[] = "Aspect_Ratio";
inline constexpr char kLocationKey[] = "Location";

// Frame flags, one per frame of a GOP line in display order.
inline constexpr uint8_t kFlagRepeatFirstField = 0x01;
inline constexpr uint8_t kFlagTopFieldFirst = 0x02;
// Clear on the leading B-frames of an open GOP: they need the previous GOP.
inline constexpr uint8_t kFlagDecodable = 0x10;
inline constexpr uint8_t kFlagBits = kFlagRepeatFirstField | kFlagTopFieldFirst | kFlagDecodable;
// The word that opens a GOP line, and the one that closes the last.
inline constexpr char kGopLineMark = '7';
inline constexpr char kLastGopMark[] = " 9";
// A GOP line holds at most this many frames where it is written.
inline constexpr int kMaxGopFrames = 499;

struct D2vHeader {
  std::vector<std::string> paths;
  int stream_type = kElementaryStream;
  int aspect_code = 0;
  int coded_width = 0;
  int coded_height = 0;
  int frame_rate_milli = 0;  // frames per second x 1000, truncated
  int64_t last_file_size = 0;
};

// The header, up to and including the empty line before the GOP lines.
void AppendD2vHeader(std::string* out, const D2vHeader& header);
// Its first part: the head line, the file count and a line per file.
void AppendD2vFileList(std::string* out, const std::vector<std::string>& paths);
// "1:1", "4:3", "16:9", "2.21:1"; empty for 0 and the reserved codes.
const char* AspectName(int code);
int AspectCode(const std::string& name);

// One GOP line: its head, a flag per frame, then its end (" 9" on the last).
void AppendGopLineHead(std::string* out, int file, int64_t position, int vob_id, int cell_id);
void AppendFrameFlag(std::string* out, unsigned flag);
void AppendGopLineEnd(std::string* out, bool last);
// The end of the project file: FINISHED or INTERRUPTED with the film share.
void AppendD2vTrailer(std::string* out, bool finished, float film_percent);

// The head line "DGIndexProjectFile<version>".
bool ScanD2vHead(const std::string& line, int* version);
// A file line "<length> <path>": the path.
bool ScanD2vPathLine(const std::string& line, std::string* path);
// A GOP line read for what follows its head: the head's fields and the frame
// flags as they stand (with their leading blank), without a closing " 9".
struct GopLineHead {
  int file = 0;
  int64_t position = 0;
  int vob_id = 0;
  int cell_id = 0;
  std::string flags;
  bool last = false;  // closed with " 9"
};
bool ScanGopLine(const std::string& line, GopLineHead* gop);

}  // namespace tessmar::formats
