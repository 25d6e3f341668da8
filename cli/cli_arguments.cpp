#include "cli/cli_arguments.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace cli {

namespace {

constexpr const char* kMainHelp =
    "Usage: kestrevane-cli COMMAND [OPTION]...\n"
    "Turns a title of a DVD-Video folder into RealMedia volumes, without windows.\n"
    "\n"
    "Commands:\n"
    "  scan DVD_FOLDER     list the title sets, program chains, audio and subtitle streams\n"
    "  new OPTION...       make a job as the new-job wizard would and add it to the queue\n"
    "  list                show the queue\n"
    "  encode [--all|JOB]  encode one job or every pending job\n"
    "\n"
    "Run 'kestrevane-cli COMMAND --help' for the options of a command.\n";

constexpr const char* kScanHelp =
    "Usage: kestrevane-cli scan [--json] DVD_FOLDER\n"
    "Analyses the DVD folder (or its VIDEO_TS folder) and lists its title sets, program\n"
    "chains with their playing times and angles, and their audio and subtitle streams.\n"
    "\n"
    "  --json    print the result as JSON\n"
    "  --help    show this help\n";

constexpr const char* kNewHelp =
    "Usage: kestrevane-cli new --name NAME --dest FOLDER --dvd DVD_FOLDER [OPTION]...\n"
    "Makes a job exactly as the new-job wizard would and adds it to the queue. Every\n"
    "setting that is not given keeps the wizard's proposal for the chosen title.\n"
    "\n"
    "  --name NAME             job name (letters, digits, blank, '-' and '_')\n"
    "  --dest FOLDER           folder in which the job's folder is made\n"
    "  --dvd DVD_FOLDER        the DVD folder or its VIDEO_TS folder\n"
    "  --title VTS:PGC[:ANGLE] the title to transcode (default: the longest)\n"
    "  --size MB[xN]           fixed size: N volumes (1..10) of MB megabytes each\n"
    "  --bitrate KBPS          average bit rate in Kbps (1 Kbps = 1024 bit/s)\n"
    "  --quality PCT           constant quality, 0..100\n"
    "  --audio N               audio stream N as 'scan' numbers them\n"
    "  --channels MODE         mono, stereo, surround or multichannel\n"
    "  --audio-bitrate KBPS    audio bit rate of one of the codec's rows\n"
    "  --gain DB               audio gain, -12..12 dB in steps of 0.2\n"
    "  --subtitles N           burn in subtitle stream N as 'scan' numbers them\n"
    "  --crop MODE             auto, none, or TOP,BOTTOM,LEFT,RIGHT margins\n"
    "  --width W               output width (32..2048); the height follows the aspect\n"
    "  --ivtc MODE             inverse telecine: simple, complex or off\n"
    "  --deinterlace           deinterlace the picture\n"
    "  --truspeed              PAL TruSpeed: play 25 fps titles at 24 fps\n"
    "  --title-info KEY=TEXT   clip information: title, author, copyright, keywords,\n"
    "                          description or rating (0..6); may be repeated\n"
    "  --help                  show this help\n";

constexpr const char* kListHelp =
    "Usage: kestrevane-cli list [--json]\n"
    "Shows the jobs of the queue with their state and progress.\n"
    "\n"
    "  --json    print the list as JSON\n"
    "  --help    show this help\n";

constexpr const char* kEncodeHelp =
    "Usage: kestrevane-cli encode [OPTION]... (--all | JOB)\n"
    "Encodes a job (its number in 'list', its name or its folder), or every pending job\n"
    "in the order of the queue. Ctrl-C aborts as the queue window's Abort does.\n"
    "\n"
    "  --all                   encode every pending job\n"
    "  --priority LEVEL        encoder priority: idle, normal, high or realtime\n"
    "  --shutdown[=WHEN]       switch the computer off after all work (WHEN = all, the\n"
    "                          default), after N jobs (jobs:N) or N volumes (volumes:N)\n"
    "  --help                  show this help\n";

std::optional<int> ParseInt(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

// "a" must be an integer within [low, high]; the message names the option.
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

// One option of a command: whether it takes a value, and what it does.
struct OptionRule {
  bool TakesValue = false;
  std::function<std::string(const std::string& value)> Apply;
};
using OptionTable = std::map<std::string, OptionRule>;

std::string ReadTitle(const std::string& text, NewJobArguments& out) {
  const std::vector<std::string> parts = Split(text, ':');
  if (parts.size() < 2 || parts.size() > 3) return "--title: '" + text + "' is not VTS:PGC[:ANGLE]";
  std::optional<int> vts, pgc, angle = 0;
  if (std::string e = ReadRange("--title", parts[0], 1, 99, vts); !e.empty()) return e;
  if (std::string e = ReadRange("--title", parts[1], 1, 255, pgc); !e.empty()) return e;
  if (parts.size() == 3) {
    if (std::string e = ReadRange("--title", parts[2], 1, 9, angle); !e.empty()) return e;
  }
  out.Title = TitleArgument{*vts, *pgc, *angle};
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

std::string ReadCrop(const std::string& text, NewJobArguments& out) {
  if (text == "auto") {
    out.Crop = CropChoice::Auto;
    return {};
  }
  if (text == "none") {
    out.Crop = CropChoice::None;
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

std::string ReadClipInfo(const std::string& text, NewJobArguments& out) {
  static const char* const kKeys[] = {"title",    "author",      "copyright",
                                      "keywords", "description", "rating"};
  const size_t equals = text.find('=');
  const std::string key = text.substr(0, equals);
  bool known = false;
  for (const char* k : kKeys) known = known || key == k;
  if (equals == std::string::npos || !known) {
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

OptionTable NewJobOptions(NewJobArguments& a) {
  auto text = [](std::string& field) {
    return OptionRule{true, [&field](const std::string& v) {
                        field = v;
                        return std::string();
                      }};
  };
  auto choice = [](const std::string& option, std::optional<std::string>& field,
                   std::vector<std::string> allowed) {
    return OptionRule{true, [option, &field, allowed](const std::string& v) {
                        for (const std::string& c : allowed) {
                          if (v == c) {
                            field = v;
                            return std::string();
                          }
                        }
                        std::string list;
                        for (const std::string& c : allowed) list += (list.empty() ? "" : ", ") + c;
                        return option + ": '" + v + "' is not one of " + list;
                      }};
  };
  auto range = [](const std::string& option, std::optional<int>& field, int low, int high) {
    return OptionRule{true, [option, &field, low, high](const std::string& v) {
                        return ReadRange(option, v, low, high, field);
                      }};
  };
  auto flag = [](bool& field) {
    return OptionRule{false, [&field](const std::string&) {
                        field = true;
                        return std::string();
                      }};
  };
  return {
      {"--name", text(a.Name)},
      {"--dest", text(a.Destination)},
      {"--dvd", text(a.DvdFolder)},
      {"--title", {true, [&a](const std::string& v) { return ReadTitle(v, a); }}},
      {"--size", {true, [&a](const std::string& v) { return ReadSize(v, a); }}},
      {"--bitrate", range("--bitrate", a.BitrateKbps, 1, 32767)},
      {"--quality", range("--quality", a.QualityPercent, 0, 100)},
      {"--audio", range("--audio", a.AudioTrack, 1, 8)},
      {"--channels",
       choice("--channels", a.Channels, {"mono", "stereo", "surround", "multichannel"})},
      {"--audio-bitrate", range("--audio-bitrate", a.AudioBitrateKbps, 1, 32767)},
      {"--gain",
       {true,
        [&a](const std::string& v) {
          a.GainStep = GainStepOfDecibels(v);
          return a.GainStep ? std::string() : "--gain: '" + v + "' is not -12..12 in steps of 0.2";
        }}},
      {"--subtitles", range("--subtitles", a.SubtitleTrack, 1, 32)},
      {"--crop", {true, [&a](const std::string& v) { return ReadCrop(v, a); }}},
      {"--width",
       {true,
        [&a](const std::string& v) {
          if (std::string e = ReadRange("--width", v, 32, 2048, a.Width); !e.empty()) {
            return e;
          }
          return *a.Width % 4 == 0 ? std::string() : "--width: " + v + " is not a multiple of 4";
        }}},
      {"--ivtc",
       {true,
        [&a](const std::string& v) {
          if (v == "simple")
            a.Ivtc = IvtcChoice::Simple;
          else if (v == "complex")
            a.Ivtc = IvtcChoice::Complex;
          else if (v == "off")
            a.Ivtc = IvtcChoice::Off;
          else
            return "--ivtc: '" + v + "' is not one of simple, complex, off";
          return std::string();
        }}},
      {"--deinterlace", flag(a.Deinterlace)},
      {"--truspeed", flag(a.TruSpeed)},
      {"--title-info", {true, [&a](const std::string& v) { return ReadClipInfo(v, a); }}},
  };
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

// Reads "--option value", "--option=value", flags and positional arguments.
// Returns the error, or empty.
std::string ReadOptions(const std::vector<std::string>& args, size_t first,
                        const OptionTable& table, std::vector<std::string>& positional) {
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      positional.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const auto rule = table.find(name);
    if (rule == table.end()) return name + ": unknown option";
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (rule->second.TakesValue) {
      if (i + 1 >= args.size()) return name + ": a value is missing";
      value = args[++i];
    }
    if (std::string error = rule->second.Apply(value); !error.empty()) return error;
  }
  return {};
}

bool AskedForHelp(const std::vector<std::string>& args, size_t first) {
  for (size_t i = first; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") return true;
  }
  return false;
}

}  // namespace

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

CliRequest ParseArguments(const std::vector<std::string>& args) {
  CliRequest request;
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    request.HelpText = kMainHelp;
    return request;
  }
  const std::string& command = args[0];
  std::vector<std::string> positional;
  OptionTable table;
  const char* help = nullptr;
  bool json_allowed = false;
  if (command == "scan") {
    request.Command = CommandKind::Scan;
    help = kScanHelp;
    json_allowed = true;
  } else if (command == "new") {
    request.Command = CommandKind::New;
    help = kNewHelp;
    table = NewJobOptions(request.New);
  } else if (command == "list") {
    request.Command = CommandKind::List;
    help = kListHelp;
    json_allowed = true;
  } else if (command == "encode") {
    request.Command = CommandKind::Encode;
    help = kEncodeHelp;
    EncodeArguments& e = request.Encode;
    table["--all"] = {false, [&e](const std::string&) {
                        e.All = true;
                        return std::string();
                      }};
    table["--priority"] = {true, [&e](const std::string& v) {
                             if (v != "idle" && v != "normal" && v != "high" && v != "realtime") {
                               return "--priority: '" + v +
                                      "' is not one of idle, normal, high, realtime";
                             }
                             e.Priority = v;
                             return std::string();
                           }};
    table["--shutdown"] = {false, [&e](const std::string& v) { return ReadShutdown(v, e); }};
  } else {
    request.Error = "'" + command + "' is not a command (scan, new, list, encode)";
    return request;
  }
  if (AskedForHelp(args, 1)) {
    request.HelpText = help;
    return request;
  }
  if (json_allowed) {
    table["--json"] = {false, [&request](const std::string&) {
                         request.Json = true;
                         return std::string();
                       }};
  }
  request.Error = ReadOptions(args, 1, table, positional);
  if (request.Failed()) return request;

  auto extra = [&](size_t allowed) {
    if (positional.size() > allowed)
      request.Error = "'" + positional[allowed] + "': unexpected argument";
    return request.Failed();
  };
  switch (request.Command) {
    case CommandKind::Scan:
      if (positional.empty()) {
        request.Error = "DVD_FOLDER: missing";
      } else if (!extra(1)) {
        request.ScanFolder = positional[0];
      }
      break;
    case CommandKind::List:
      extra(0);
      break;
    case CommandKind::New: {
      if (extra(0)) break;
      const NewJobArguments& n = request.New;
      const int modes =
          n.SizeMB.has_value() + n.BitrateKbps.has_value() + n.QualityPercent.has_value();
      if (n.Name.empty())
        request.Error = "--name: missing";
      else if (n.Destination.empty())
        request.Error = "--dest: missing";
      else if (n.DvdFolder.empty())
        request.Error = "--dvd: missing";
      else if (modes > 1)
        request.Error = "--size, --bitrate, --quality: give only one of them";
      else if (n.Deinterlace && n.Ivtc && *n.Ivtc != IvtcChoice::Off)
        request.Error = "--deinterlace: inverse telecine and deinterlacing never run together";
      break;
    }
    case CommandKind::Encode:
      if (extra(1)) break;
      if (request.Encode.All == !positional.empty()) {
        request.Error = request.Encode.All ? "'" + positional[0] + "': --all takes no job"
                                           : "JOB: missing (or --all)";
      } else if (!positional.empty()) {
        request.Encode.Job = positional[0];
      }
      break;
  }
  return request;
}

}  // namespace cli
