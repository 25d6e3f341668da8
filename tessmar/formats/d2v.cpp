#include "tessmar/formats/d2v.h"

#include <cinttypes>
#include <cstdio>

#include "tessmar/formats/index_text.h"

namespace tessmar::formats {

namespace {
// The fixed values of the header: the reference iDCT, PC scale, no field
// operation.
constexpr int kIdctReference = 4;
constexpr int kPcScale = 1;
constexpr int kFieldOperationNone = 0;
constexpr int kSectorBytes = 2048;
}  // namespace

void AppendD2vFileList(std::string* out, const std::vector<std::string>& paths) {
  AppendFormat(out, "%s%s\n%d\n", kD2vMagic, kD2vVersion, static_cast<int>(paths.size()));
  for (const std::string& path : paths)
    AppendFormat(out, "%d %s\n", static_cast<int>(path.size()), path.c_str());
}

void AppendD2vHeader(std::string* out, const D2vHeader& h) {
  AppendD2vFileList(out, h.paths);
  AppendFormat(out, "\n%s=%d\n", kStreamTypeKey, h.stream_type);
  AppendFormat(out, "iDCT_Algorithm=%d (1:MMX 2:SSEMMX 3:FPU 4:REF 5:SSE2MMX)\n", kIdctReference);
  AppendFormat(out, "%s=%d (0:TVScale 1:PCScale)\n", kYuvRgbScaleKey, kPcScale);
  out->append("Luminance_Filter=0,0 (Gamma, Offset)\n");
  out->append("Clipping=0,0,0,0 (ClipLeft, ClipRight, ClipTop, ClipBottom)\n");
  AppendFormat(out, "%s=%s\n", kAspectRatioKey, AspectName(h.aspect_code));
  AppendFormat(out, "%s=%dx%d\n", kPictureSizeKey, h.coded_width, h.coded_height);
  AppendFormat(out, "Field_Operation=%d (0:None 1:ForcedFILM 2:RawFrames)\n", kFieldOperationNone);
  AppendFormat(out, "%s=%d\n", kFrameRateKey, h.frame_rate_milli);
  AppendFormat(out, "%s=%d,%X,%d,%X\n\n", kLocationKey, 0, 0, static_cast<int>(h.paths.size()) - 1,
               static_cast<unsigned>(h.last_file_size / kSectorBytes));
}

const char* AspectName(int code) {
  switch (code) {
    case 1:
      return "1:1";
    case 2:
      return "4:3";
    case 3:
      return "16:9";
    case 4:
      return "2.21:1";
    default:
      return "";  // 0 and the reserved codes have no name
  }
}

int AspectCode(const std::string& name) {
  for (int code = 1; code <= 4; ++code)
    if (name == AspectName(code)) return code;
  return 0;
}

void AppendGopLineHead(std::string* out, int file, int64_t position, int vob_id, int cell_id) {
  AppendFormat(out, "%c %d %" PRId64 " %d %d", kGopLineMark, file, position, vob_id, cell_id);
}

void AppendFrameFlag(std::string* out, unsigned flag) {
  out->push_back(' ');
  AppendHex(out, flag);
}

void AppendGopLineEnd(std::string* out, bool last) {
  if (last) out->append(kLastGopMark);
  out->append("\n");
}

void AppendD2vTrailer(std::string* out, bool finished, float film_percent) {
  out->append(finished ? "\nFINISHED" : "\nINTERRUPTED");
  AppendFormat(out, "  %.2f%% FILM\n", film_percent);
}

bool ScanD2vHead(const std::string& line, int* version) {
  return ScanHead(line, kD2vMagic, version);
}

bool ScanD2vPathLine(const std::string& line, std::string* path) {
  int length = 0, used = 0;
  if (std::sscanf(line.c_str(), "%d %n", &length, &used) != 1) return false;
  *path = line.substr(static_cast<size_t>(used));
  return true;
}

bool ScanGopLine(const std::string& line, GopLineHead* gop) {
  FieldScan in(line);
  if (!in.Literal(kGopLineMark) || !in.Dec(&gop->file) || !in.Dec64(&gop->position) ||
      !in.Dec(&gop->vob_id) || !in.Dec(&gop->cell_id))
    return false;
  gop->flags = in.Rest();
  const size_t n = sizeof kLastGopMark - 1;
  gop->last =
      gop->flags.size() >= n && gop->flags.compare(gop->flags.size() - n, n, kLastGopMark) == 0;
  if (gop->last) gop->flags.resize(gop->flags.size() - n);
  return true;
}

}  // namespace tessmar::formats
