// libFuzzer target over kestrevane-cli's reading of its command line: the
// input is the arguments after the program name, separated by NUL bytes.
// Every reading is a help text, a one-line error without control characters
// or a command whose values lie within the ranges the options allow.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_arguments.h"

namespace {

bool Within(const std::optional<int>& value, int low, int high) {
  return !value || (*value >= low && *value <= high);
}

// A rating as the option reads it ("03" is 3); -1 when it is no integer.
std::optional<int> RatingOf(const std::string& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return -1;
  return value;
}

bool NewJobIsSound(const cli::NewJobArguments& n) {
  const int modes = n.SizeMB.has_value() + n.BitrateKbps.has_value() + n.QualityPercent.has_value();
  if (n.Name.empty() || n.Destination.empty() || n.DvdFolder.empty() || modes > 1) return false;
  for (const cli::TitleArgument& title : n.Titles)
    if (title.Vts < 1 || title.Vts > 99 || title.Pgc < 1 || title.Pgc > 255 || title.Angle < 0 ||
        title.Angle > 9)
      return false;
  if (n.AllTitles && !n.Titles.empty()) return false;
  if (n.MinLengthMinutes &&
      (!n.AllTitles || !(*n.MinLengthMinutes >= 0 && *n.MinLengthMinutes <= 24 * 60)))
    return false;
  if (!Within(n.SizeMB, 1, 32767) || !Within(n.VolumeCount, 1, 10) ||
      n.SizeMB.has_value() != n.VolumeCount.has_value() || !Within(n.BitrateKbps, 1, 32767) ||
      !Within(n.QualityPercent, 0, 100) || !Within(n.AudioTrack, 1, 8) ||
      !Within(n.AudioBitrateKbps, 1, 32767) || !Within(n.GainStep, -60, 60) ||
      !Within(n.SubtitleTrack, 1, 32) || !Within(n.Width, 32, 2048) || (n.Width && *n.Width % 4))
    return false;
  for (int margin : {n.Margins.Top, n.Margins.Bottom, n.Margins.Left, n.Margins.Right})
    if (margin < 0 || margin > 2048 || margin % 2 != 0) return false;
  if (n.Deinterlace && n.Ivtc && *n.Ivtc != cli::IvtcChoice::Off) return false;
  for (const auto& [key, value] : n.ClipInfo)
    if (key == "rating" && !Within(RatingOf(value), 0, 6)) return false;
  return true;
}

bool EncodeIsSound(const cli::EncodeArguments& e) {
  // An empty argument names no job the queue holds; "encode" then says so.
  if (e.All && !e.Job.empty()) return false;
  const bool counted = e.Shutdown == cli::ShutdownChoice::AfterJobs ||
                       e.Shutdown == cli::ShutdownChoice::AfterVolumes;
  return counted ? e.ShutdownCount >= 1 && e.ShutdownCount <= 99 : e.ShutdownCount == 0;
}

// An operand may be given empty; the command then says it names nothing.
bool HasEmptyArgument(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments)
    if (argument.empty()) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments;
  if (size > 0) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0;;) {
      const size_t end = text.find('\0', start);
      arguments.push_back(text.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  const cli::CliRequest request = cli::ParseArguments(arguments);
  if (request.WantsHelp() && request.Failed()) __builtin_trap();
  // The error is one line without control characters, whatever it names.
  for (const char c : request.Error)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
  if (request.WantsHelp() || request.Failed()) return 0;
  switch (request.Command) {
    case cli::CommandKind::New:
      if (!NewJobIsSound(request.New)) __builtin_trap();
      break;
    case cli::CommandKind::Encode:
      if (!EncodeIsSound(request.Encode)) __builtin_trap();
      break;
    case cli::CommandKind::Scan:
      if (request.ScanFolder.empty() && !HasEmptyArgument(arguments)) __builtin_trap();
      break;
    case cli::CommandKind::List:
      if (request.Json && request.NamesOnly) __builtin_trap();
      break;
    case cli::CommandKind::Remove:
    case cli::CommandKind::Move:
      if (request.Edit.Job.empty() && !HasEmptyArgument(arguments)) __builtin_trap();
      break;
    case cli::CommandKind::Add:
      if (request.Edit.Folder.empty() && !HasEmptyArgument(arguments)) __builtin_trap();
      break;
  }
  // A gain the option takes reads back from its own decibels.
  if (request.New.GainStep) {
    const std::string decibels = std::to_string(-*request.New.GainStep * 0.2);
    if (cli::GainStepOfDecibels(decibels) != request.New.GainStep) __builtin_trap();
  }
  return 0;
}
