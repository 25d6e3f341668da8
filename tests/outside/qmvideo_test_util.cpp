#include "tests/outside/qmvideo_test_util.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "tessmar/include/tessmar.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace kv_test {

const std::vector<SampleTitle>& AllSampleTitles() {
  static const std::vector<SampleTitle> titles = {
      {"pal_letterbox", 1, 1},       {"pal_letterbox", 1, 2},      {"ntsc_multi", 1, 1},
      {"ntsc_multi", 2, 1},          {"ntsc_film", 1, 1},          {"ntsc_mixed", 1, 1},
      {"pal_bff_progressive", 1, 1}, {"pal_bff_interlaced", 1, 1}, {"ntsc_film_bff", 1, 1},
      {"pal_fields_bff", 1, 1},      {"ntsc_fields_tff", 1, 1}};
  return titles;
}

std::string TitleName(const SampleTitle& t) {
  char name[96];
  std::snprintf(name, sizeof name, "%s_vts%02d_pgc%02d_a0", t.disc, t.vts, t.pgc);
  return name;
}

std::string PrepareSampleTitle(const std::string& folder, const SampleTitle& t) {
  const std::string title = folder + "/" + TitleName(t);
  struct stat st;
  if (stat((title + ".qmvi").c_str(), &st) == 0) return title + ".qmvi";
  char vts[96];
  std::snprintf(vts, sizeof vts, "%s/%s_vts%02d", folder.c_str(), t.disc, t.vts);
  if (stat((std::string(vts) + ".d2v").c_str(), &st) != 0) {
    TessmarStatus status{};
    if (IndexAndWait(SampleVobs(t.disc, t.vts), vts, false, false, &status) != 0 ||
        !status.finished)
      return "";
  }
  char ifo[32];
  std::snprintf(ifo, sizeof ifo, "/VTS_%02d_0.IFO", t.vts);
  const std::string ifo_path = SampleVideoTs(t.disc) + ifo;
  if (qmRebuild(vts, ifo_path.c_str(), title.c_str(), 1, 0, 0, t.pgc, 0) != 1) return "";
  return title + ".qmvi";
}

std::string WriteTitleBytes(const std::string& qmvi_path) {
  const std::string base = qmvi_path.substr(0, qmvi_path.size() - 5);
  const std::string mpg = base + ".mpg";
  WriteFile(mpg, ConcatRanges(base + ".vfm", 0, 1, 2, 3));
  return mpg;
}

uint32_t FrameCrc(const uint8_t* bgr, int width, int height) {
  return static_cast<uint32_t>(
      crc32(0, bgr, static_cast<uInt>(static_cast<size_t>(width) * height * 3)));
}

namespace {

uint32_t Crc(const std::string& bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// FFmpeg's frames of the input, each `frame_bytes` of `pix_fmt`, as decoded
// (no frame dropped or repeated); empty on failure.
std::vector<std::string> FfmpegFrames(const std::string& input, const char* pix_fmt,
                                      size_t frame_bytes) {
  const std::string command = "ffmpeg -nostdin -v error " + input +
                              " -map 0:v:0 -fps_mode passthrough -pix_fmt " + pix_fmt +
                              " -f rawvideo - 2>/dev/null";
  std::vector<std::string> frames;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return frames;
  std::string frame(frame_bytes, '\0');
  while (std::fread(frame.data(), 1, frame.size(), p) == frame.size()) frames.push_back(frame);
  if (pclose(p) != 0) frames.clear();
  return frames;
}

size_t PlanarBytes(int width, int height) {
  return static_cast<size_t>(width) * height +
         2 * static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
}

// The frames a player shows, as planar pictures woven from FFmpeg's decode:
// ffprobe's field order and repeat flag of each decoded frame give the
// fields in order (first, second, the first again when repeated), and
// consecutive fields pair into frames from the first field on.
std::vector<std::string> ShownPlanarFrames(const std::string& mpg, int width, int height) {
  std::vector<std::string> shown;
  const std::vector<std::string> coded =
      FfmpegFrames("-i " + Quote(mpg), "yuv420p", PlanarBytes(width, height));
  const CommandResult probe = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries frame=top_field_first,repeat_pict "
      "-of csv=p=0 " +
      Quote(mpg));
  struct Field {
    size_t frame;
    bool top;
  };
  std::vector<Field> fields;
  std::istringstream lines(probe.out);
  std::string line;
  while (std::getline(lines, line)) {
    int top_first = 0, repeat = 0;
    if (std::sscanf(line.c_str(), "%d,%d", &top_first, &repeat) != 2) continue;
    const size_t frame = fields.empty() ? 0 : fields.back().frame + 1;
    fields.push_back({frame, top_first != 0});
    fields.push_back({frame, top_first == 0});
    if (repeat) fields.push_back({frame, top_first != 0});
  }
  if (coded.empty() || fields.empty() || fields.back().frame + 1 != coded.size()) return shown;
  const size_t chroma_width = static_cast<size_t>((width + 1) / 2);
  for (size_t k = 0; k + 1 < fields.size(); k += 2) {
    if (fields[k].top == fields[k + 1].top) return {};  // no sample has such flags
    const std::string& top = coded[fields[k].top ? fields[k].frame : fields[k + 1].frame];
    const std::string& bottom = coded[fields[k].top ? fields[k + 1].frame : fields[k].frame];
    std::string woven = top;
    // Rows of the luma plane, then of the two chroma planes, by parity.
    size_t at = 0;
    for (const auto& [row_bytes, rows] :
         {std::pair<size_t, int>{static_cast<size_t>(width), height},
          {chroma_width, (height + 1) / 2},
          {chroma_width, (height + 1) / 2}}) {
      for (int y = 1; y < rows; y += 2)
        woven.replace(at + y * row_bytes, row_bytes, bottom, at + y * row_bytes, row_bytes);
      at += row_bytes * rows;
    }
    shown.push_back(std::move(woven));
  }
  return shown;
}

}  // namespace

std::vector<uint32_t> FfmpegFrameCrcs(const std::string& mpg, bool shown, int width, int height) {
  const size_t bgr_bytes = static_cast<size_t>(width) * height * 3;
  std::vector<std::string> frames;
  if (!shown) {
    frames = FfmpegFrames("-i " + Quote(mpg), "bgr24", bgr_bytes);
  } else {
    // The woven pictures converted by FFmpeg as it converts its decode.
    const std::string raw = mpg + ".shown.yuv";
    std::string all;
    for (const std::string& f : ShownPlanarFrames(mpg, width, height)) all += f;
    WriteFile(raw, all);
    frames = FfmpegFrames("-f rawvideo -pix_fmt yuv420p -s " + std::to_string(width) + "x" +
                              std::to_string(height) + " -i " + Quote(raw),
                          "bgr24", bgr_bytes);
    std::remove(raw.c_str());
  }
  std::vector<uint32_t> crcs;
  for (const std::string& f : frames) crcs.push_back(Crc(f));
  return crcs;
}

std::vector<uint32_t> FfmpegPlanarFrameCrcs(const std::string& mpg, bool shown, int width,
                                            int height) {
  const std::vector<std::string> frames =
      shown ? ShownPlanarFrames(mpg, width, height)
            : FfmpegFrames("-i " + Quote(mpg), "yuv420p", PlanarBytes(width, height));
  std::vector<uint32_t> crcs;
  for (const std::string& f : frames) crcs.push_back(Crc(f));
  return crcs;
}

bool FfprobePictureSize(const std::string& url, int* width, int* height) {
  CommandResult r = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 " +
      Quote(url));
  return std::sscanf(r.out.c_str(), "%d,%d", width, height) == 2;
}

std::string SampleFact(const std::string& disc, const std::string& key) {
  std::ifstream in(SampleDvdRoot() + "/" + disc + ".info.txt");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return "";
}

}  // namespace kv_test
