#include "tests/road/independent_readers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

double BrightShare(const std::string& luma, int width, int x0, int y0, int x1, int y1, int level) {
  int bright = 0, all = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x, ++all)
      if (static_cast<uint8_t>(luma[static_cast<size_t>(y) * width + x]) > level) ++bright;
  return all == 0 ? 0 : static_cast<double>(bright) / all;
}

}  // namespace kv_test
