#include "cli/argument_values.h"

#include <charconv>
#include <cmath>

namespace cli {

const std::vector<std::string> kChannelWords = {"mono", "stereo", "surround", "multichannel"};
const std::vector<std::string> kIvtcWords = {"simple", "complex", "off"};
const std::vector<std::string> kCropWords = {"auto", "none"};
const std::vector<std::string> kSplitWords = {"off"};
const std::vector<std::string> kPriorityWords = {"idle", "normal", "high", "realtime"};
const std::vector<std::string> kShutdownWords = {"all", "jobs:", "volumes:"};
const std::vector<std::string> kWhereWords = {"up", "down", "first", "last"};
const std::vector<std::string> kClipInfoKeys = {"title",    "author",      "copyright",
                                                "keywords", "description", "rating"};
const std::vector<std::string> kAllWords = {"all"};

std::optional<int> ParseInt(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

std::string ReadRange(const std::string& option, const std::string& text, int low, int high,
                      std::optional<int>& out) {
  const std::optional<int> value = ParseInt(text);
  if (!value) return option + ": '" + text + "' is not an integer";
  if (*value < low || *value > high) {
    return option + ": " + text + " is not within " + std::to_string(low) + ".." +
           std::to_string(high);
  }
  out = *value;
  return {};
}

std::string ReadChoice(const std::string& option, const std::string& text,
                       const std::vector<std::string>& allowed) {
  std::string list;
  for (const std::string& word : allowed) {
    if (text == word) return {};
    list += (list.empty() ? "" : ", ") + word;
  }
  return option + ": '" + text + "' is not one of " + list;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

std::string ReadTitle(const std::string& text, NewJobArguments& out) {
  const std::vector<std::string> parts = Split(text, ':');
  if (parts.size() < 2 || parts.size() > 3) return "--title: '" + text + "' is not VTS:PGC[:ANGLE]";
  std::optional<int> vts, pgc, angle = 0;
  if (std::string e = ReadRange("--title", parts[0], 1, 99, vts); !e.empty()) return e;
  if (std::string e = ReadRange("--title", parts[1], 1, 255, pgc); !e.empty()) return e;
  if (parts.size() == 3) {
    if (std::string e = ReadRange("--title", parts[2], 1, 9, angle); !e.empty()) return e;
  }
  for (const TitleArgument& given : out.Titles) {
    if (given.Vts == *vts && given.Pgc == *pgc && given.Angle == *angle)
      return "--title: " + text + " is given twice";
  }
  out.Titles.push_back(TitleArgument{*vts, *pgc, *angle});
  return {};
}

std::string ReadMinutes(const std::string& text, NewJobArguments& out) {
  char* end = nullptr;
  const double minutes = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(minutes) || minutes < 0 ||
      minutes > 24 * 60) {
    return "--min-length: '" + text + "' is not a number of minutes (0..1440)";
  }
  out.MinLengthMinutes = minutes;
  return {};
}

std::string ReadSize(const std::string& text, NewJobArguments& out) {
  const size_t x = text.find_first_of("xX");
  std::optional<int> size, count = 1;
  if (std::string e = ReadRange("--size", text.substr(0, x), 1, 32767, size); !e.empty()) return e;
  if (x != std::string::npos) {
    if (std::string e = ReadRange("--size", text.substr(x + 1), 1, 10, count); !e.empty()) return e;
  }
  out.SizeMB = size;
  out.VolumeCount = count;
  return {};
}

std::string ReadSplit(const std::string& text, NewJobArguments& out) {
  if (text == kSplitWords[0]) {
    out.SplitMB = 0;
    return {};
  }
  if (!ParseInt(text)) return "--split: '" + text + "' is not a size in MB or off";
  return ReadRange("--split", text, 1, 32767, out.SplitMB);
}

std::string ReadCrop(const std::string& text, NewJobArguments& out) {
  if (text == kCropWords[0] || text == kCropWords[1]) {
    out.Crop = text == kCropWords[0] ? CropChoice::Auto : CropChoice::None;
    return {};
  }
  const std::vector<std::string> parts = Split(text, ',');
  if (parts.size() != 4) return "--crop: '" + text + "' is not auto, none or TOP,BOTTOM,LEFT,RIGHT";
  int* margins[] = {&out.Margins.Top, &out.Margins.Bottom, &out.Margins.Left, &out.Margins.Right};
  for (size_t i = 0; i < 4; ++i) {
    std::optional<int> value;
    if (std::string e = ReadRange("--crop", parts[i], 0, 2048, value); !e.empty()) return e;
    if (*value % 2 != 0) return "--crop: margin " + parts[i] + " is not an even number";
    *margins[i] = *value;
  }
  out.Crop = CropChoice::Manual;
  return {};
}

std::string ReadWidth(const std::string& text, NewJobArguments& out) {
  if (std::string e = ReadRange("--width", text, 32, 2048, out.Width); !e.empty()) return e;
  return *out.Width % 4 == 0 ? std::string() : "--width: " + text + " is not a multiple of 4";
}

std::string ReadIvtc(const std::string& text, NewJobArguments& out) {
  if (std::string e = ReadChoice("--ivtc", text, kIvtcWords); !e.empty()) return e;
  out.Ivtc = text == kIvtcWords[0]   ? IvtcChoice::Simple
             : text == kIvtcWords[1] ? IvtcChoice::Complex
                                     : IvtcChoice::Off;
  return {};
}

std::string ReadGain(const std::string& text, NewJobArguments& out) {
  out.GainStep = GainStepOfDecibels(text);
  return out.GainStep ? std::string() : "--gain: '" + text + "' is not -12..12 in steps of 0.2";
}

std::string ReadClipInfo(const std::string& text, NewJobArguments& out) {
  const size_t equals = text.find('=');
  const std::string key = text.substr(0, equals);
  if (equals == std::string::npos || !ReadChoice("", key, kClipInfoKeys).empty()) {
    return "--title-info: '" + text +
           "' is not KEY=TEXT with KEY one of title, author, "
           "copyright, keywords, description, rating";
  }
  const std::string value = text.substr(equals + 1);
  if (key == "rating") {
    std::optional<int> rating;
    if (std::string e = ReadRange("--title-info rating", value, 0, 6, rating); !e.empty()) return e;
  }
  out.ClipInfo.emplace_back(key, value);
  return {};
}

std::string ReadShutdown(const std::string& text, EncodeArguments& out) {
  if (text.empty() || text == "all") {
    out.Shutdown = ShutdownChoice::AfterAll;
    return {};
  }
  const size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  if (colon == std::string::npos || (kind != "jobs" && kind != "volumes")) {
    return "--shutdown: '" + text + "' is not all, jobs:N or volumes:N";
  }
  std::optional<int> count;
  if (std::string e = ReadRange("--shutdown", text.substr(colon + 1), 1, 99, count); !e.empty()) {
    return e;
  }
  out.Shutdown = kind == "jobs" ? ShutdownChoice::AfterJobs : ShutdownChoice::AfterVolumes;
  out.ShutdownCount = *count;
  return {};
}

std::string ReadMoveWhere(const std::string& text, QueueEditArguments& out) {
  if (std::string e = ReadChoice("WHERE", text, kWhereWords); !e.empty()) return e;
  out.Where = text == kWhereWords[0]   ? MoveWhere::Up
              : text == kWhereWords[1] ? MoveWhere::Down
              : text == kWhereWords[2] ? MoveWhere::First
                                       : MoveWhere::Last;
  return {};
}

std::optional<int> GainStepOfDecibels(const std::string& text) {
  char* end = nullptr;
  const double db = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(db)) return std::nullopt;
  const double steps = -db / 0.2;
  const long rounded = std::lround(steps);
  if (std::fabs(steps - static_cast<double>(rounded)) > 1e-6 || rounded < -60 || rounded > 60) {
    return std::nullopt;
  }
  return static_cast<int>(rounded);
}

}  // namespace cli
