#include "tests/road/independent_readers.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/nav_read.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>

#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace kv_test {

namespace {

// ffprobe's "key=value" lines of one stream or the container.
std::string ProbeEntries(const std::string& file, const std::string& select,
                         const std::string& entries) {
  return RunCommand("ffprobe -v error " + select + " -show_entries " + entries +
                    " -of default=nw=1 " + Quote(file))
      .out;
}

std::string Value(const std::string& lines, const std::string& key) {
  std::istringstream in(lines);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return {};
}

double Rate(const std::string& fraction) {
  const size_t slash = fraction.find('/');
  if (slash == std::string::npos) return std::atof(fraction.c_str());
  const double den = std::atof(fraction.c_str() + slash + 1);
  return den == 0 ? 0 : std::atof(fraction.substr(0, slash).c_str()) / den;
}

}  // namespace

ProbedVolume ProbeVolume(const std::string& file) {
  ProbedVolume v;
  const std::string video =
      ProbeEntries(file, "-select_streams v:0", "stream=codec_name,width,height,r_frame_rate");
  v.video_codec = Value(video, "codec_name");
  v.width = std::atoi(Value(video, "width").c_str());
  v.height = std::atoi(Value(video, "height").c_str());
  v.header_frame_rate = Rate(Value(video, "r_frame_rate"));
  // The rate the pictures are shown at, from their time stamps.
  std::istringstream stamps(RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                       "packet=pts_time -of csv=p=0 " +
                                       Quote(file))
                                .out);
  std::string line;
  double first = -1, last = -1;
  int packets = 0;
  while (std::getline(stamps, line)) {
    if (line.empty()) continue;
    const double t = std::atof(line.c_str());
    if (packets++ == 0) first = t;
    last = std::max(last, t);
  }
  if (packets > 1 && last > first) v.frame_rate = (packets - 1) / (last - first);
  const std::string audio = ProbeEntries(file, "-select_streams a:0", "stream=codec_name,channels");
  v.audio_codec = Value(audio, "codec_name");
  v.channels = std::atoi(Value(audio, "channels").c_str());
  v.duration = std::atof(Value(ProbeEntries(file, "", "format=duration"), "duration").c_str());

  // Every decoded picture once, none made up or dropped for a rate.
  const std::string errors = file + ".decode-errors";
  const CommandResult decoded =
      RunCommand("ffmpeg -nostdin -v error -i " + Quote(file) +
                 " -map 0:v -fps_mode passthrough -f framecrc - 2>" + Quote(errors));
  std::istringstream in(decoded.out);
  v.decoded_frames = 0;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') ++v.decoded_frames;
  v.decode_errors = ReadFile(errors);
  std::remove(errors.c_str());
  return v;
}

std::vector<double> FlashTimes(const std::string& file) {
  std::vector<double> times;
  const std::string out =
      RunCommand("ffprobe -v error -f lavfi -i " + Quote("movie=" + file + ",signalstats") +
                 " -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0")
          .out;
  std::istringstream in(out);
  std::string line;
  bool bright = false;
  while (std::getline(in, line)) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    const double time = std::atof(line.substr(0, comma).c_str());
    const bool now_bright = std::atof(line.c_str() + comma + 1) > 128;
    if (now_bright && !bright) times.push_back(time);
    bright = now_bright;
  }
  return times;
}

std::vector<double> ToneOnsets(const std::string& file) {
  const std::string pcm = file + ".pcm";
  RunCommand("ffmpeg -nostdin -v error -y -i " + Quote(file) +
             " -map 0:a -ac 1 -ar 48000 -f s16le " + Quote(pcm));
  const std::string bytes = ReadFile(pcm);
  std::remove(pcm.c_str());
  // Bursts of loud samples, apart by 0.1 s of quiet at least.
  std::vector<std::pair<int64_t, int64_t>> bursts;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const int16_t s = static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                           static_cast<uint8_t>(bytes[i + 1]) << 8);
    if (std::abs(s) <= 2000) continue;
    const int64_t at = static_cast<int64_t>(i / 2);
    if (bursts.empty() || at - bursts.back().second > 4800)
      bursts.emplace_back(at, at);
    else
      bursts.back().second = at;
  }
  // A tone lasts; a sliver at the very end of a volume is the start of a
  // tone that the next volume holds.
  std::vector<double> onsets;
  for (const auto& [first, last] : bursts)
    if (last - first >= 480) onsets.push_back(static_cast<double>(first) / 48000);
  return onsets;
}

std::string LumaAt(const std::string& file, double seconds, int width, int height) {
  const std::string out =
      RunCommand("ffmpeg -nostdin -v error -i " + Quote(file) + " -ss " + std::to_string(seconds) +
                 " -frames:v 1 -f rawvideo -pix_fmt gray -")
          .out;
  return out.size() == static_cast<size_t>(width) * height ? out : std::string();
}

std::vector<double> FrameMeans(const std::string& file, int x, int y, int w, int h) {
  std::string graph = "movie=" + file;
  if (w > 0)
    graph += ",crop=" + std::to_string(w) + ":" + std::to_string(h) + ":" + std::to_string(x) +
             ":" + std::to_string(y);
  const std::string out =
      RunCommand("ffprobe -v error -f lavfi -i " + Quote(graph + ",signalstats") +
                 " -show_entries frame_tags=lavfi.signalstats.YAVG -of csv=p=0")
          .out;
  std::vector<double> means;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) means.push_back(std::atof(line.c_str()));
  return means;
}

std::vector<int> FlashFrames(const std::vector<double>& means) {
  std::vector<int> frames;
  for (size_t i = 0; i < means.size(); ++i)
    if (means[i] > 128 && (i == 0 || means[i - 1] <= 128)) frames.push_back(static_cast<int>(i));
  return frames;
}

namespace {

struct DvdCloser {
  void operator()(dvd_reader_t* d) const { DVDClose(d); }
  void operator()(ifo_handle_t* i) const { ifoClose(i); }
  void operator()(dvd_file_t* f) const { DVDCloseFile(f); }
};

// Sectors [first, last] of the title VOBs, appended to `out`.
bool CopySectors(dvd_file_t* vobs, uint32_t first, uint32_t last, std::ofstream& out) {
  std::vector<unsigned char> buffer(DVD_VIDEO_LB_LEN);
  for (uint32_t s = first; s <= last; ++s) {
    if (DVDReadBlocks(vobs, static_cast<int>(s), 1, buffer.data()) != 1) return false;
    out.write(reinterpret_cast<const char*>(buffer.data()), DVD_VIDEO_LB_LEN);
  }
  return static_cast<bool>(out);
}

// An interleaved cell: from its first unit, each unit to its end and then
// to the angle's next unit, as the units' first navigation packs say.
bool CopyInterleavedCell(dvd_file_t* vobs, const cell_playback_t& cell, std::ofstream& out) {
  std::vector<unsigned char> nav(DVD_VIDEO_LB_LEN);
  uint32_t unit = cell.first_sector;
  for (int guard = 0; guard < 100000; ++guard) {
    if (DVDReadBlocks(vobs, static_cast<int>(unit), 1, nav.data()) != 1) return false;
    dsi_t dsi;
    navRead_DSI(&dsi, nav.data() + DSI_START_BYTE);
    if (!(dsi.sml_pbi.category & 0x4000) || !(dsi.sml_pbi.category & 0x2000)) return false;
    if (!CopySectors(vobs, unit, unit + dsi.sml_pbi.ilvu_ea, out)) return false;
    if (dsi.sml_pbi.ilvu_sa == SRI_END_OF_CELL || unit + dsi.sml_pbi.ilvu_sa > cell.last_sector)
      return true;
    unit += dsi.sml_pbi.ilvu_sa;
  }
  return false;
}

}  // namespace

std::vector<std::string> ReadTitleCells(const std::string& dvd, int vts, int pgc, int angle,
                                        const std::string& folder, const std::vector<int>& only) {
  std::unique_ptr<dvd_reader_t, DvdCloser> reader(DVDOpen(dvd.c_str()));
  if (!reader) return {};
  std::unique_ptr<ifo_handle_t, DvdCloser> ifo(ifoOpen(reader.get(), vts));
  std::unique_ptr<dvd_file_t, DvdCloser> vobs(DVDOpenFile(reader.get(), vts, DVD_READ_TITLE_VOBS));
  if (!ifo || !vobs || !ifo->vts_pgcit || pgc < 1 || pgc > ifo->vts_pgcit->nr_of_pgci_srp)
    return {};
  const pgc_t* chain = ifo->vts_pgcit->pgci_srp[pgc - 1].pgc;
  std::vector<std::string> files;
  int in_block = 0;  // the cell's place in its angle block, from 1
  for (int i = 0; i < chain->nr_of_cells; ++i) {
    const cell_playback_t& cell = chain->cell_playback[i];
    in_block = cell.block_type == BLOCK_TYPE_ANGLE_BLOCK
                   ? (cell.block_mode == BLOCK_MODE_FIRST_CELL ? 1 : in_block + 1)
                   : 0;
    if (in_block > 0 && in_block != std::max(angle, 1)) continue;
    if (!only.empty() && std::find(only.begin(), only.end(), i + 1) == only.end()) continue;
    const std::string path = folder + "/cell" + std::to_string(i + 1) + ".vob";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const bool copied = cell.interleaved
                            ? CopyInterleavedCell(vobs.get(), cell, out)
                            : CopySectors(vobs.get(), cell.first_sector, cell.last_sector, out);
    if (!copied) return {};
    files.push_back(path);
  }
  return files;
}

double BrightShare(const std::string& luma, int width, int x0, int y0, int x1, int y1, int level) {
  int bright = 0, all = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x, ++all)
      if (static_cast<uint8_t>(luma[static_cast<size_t>(y) * width + x]) > level) ++bright;
  return all == 0 ? 0 : static_cast<double>(bright) / all;
}

}  // namespace kv_test
