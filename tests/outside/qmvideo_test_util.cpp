#include "tests/outside/qmvideo_test_util.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "tessmar/include/tessmar.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace kv_test {

const std::vector<SampleTitle>& AllSampleTitles() {
  static const std::vector<SampleTitle> titles = {{"pal_letterbox", 1, 1}, {"pal_letterbox", 1, 2},
                                                  {"ntsc_multi", 1, 1},    {"ntsc_multi", 2, 1},
                                                  {"ntsc_film", 1, 1},     {"ntsc_mixed", 1, 1}};
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

std::vector<uint32_t> FfmpegCrcs(const std::string& mpg, bool repeat_fields, const char* pix_fmt,
                                 size_t frame_bytes) {
  // setpts=N keeps the repeated frames' time stamps increasing, so that the
  // pass-through output neither drops nor doubles a frame.
  const std::string filter = repeat_fields ? " -vf repeatfields,setpts=N" : "";
  const std::string command = "ffmpeg -nostdin -v error -i " + Quote(mpg) + " -map 0:v:0" + filter +
                              " -fps_mode passthrough -pix_fmt " + pix_fmt +
                              " -f rawvideo - 2>/dev/null";
  std::vector<uint32_t> crcs;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return crcs;
  std::vector<uint8_t> frame(frame_bytes);
  while (std::fread(frame.data(), 1, frame.size(), p) == frame.size())
    crcs.push_back(static_cast<uint32_t>(crc32(0, frame.data(), static_cast<uInt>(frame.size()))));
  if (pclose(p) != 0) crcs.clear();
  return crcs;
}

}  // namespace

std::vector<uint32_t> FfmpegFrameCrcs(const std::string& mpg, bool repeat_fields, int width,
                                      int height) {
  return FfmpegCrcs(mpg, repeat_fields, "bgr24", static_cast<size_t>(width) * height * 3);
}

std::vector<uint32_t> FfmpegPlanarFrameCrcs(const std::string& mpg, bool repeat_fields, int width,
                                            int height) {
  const size_t chroma = static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
  return FfmpegCrcs(mpg, repeat_fields, "yuv420p",
                    static_cast<size_t>(width) * height + 2 * chroma);
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
