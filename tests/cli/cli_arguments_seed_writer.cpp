// cli_arguments_seed_writer <corpus>: command lines made from the command
// table, as starting inputs for cli_arguments_fuzz (arguments separated by
// NUL bytes): per command its operands with every option at once, and each
// option on its own with every value the table offers for it (each word of
// a word list, "--shutdown=" for a value given only after "=") or a typical
// one for its value's name.
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/command_table.h"

namespace {

// Values of the texts the table names; an unknown name gets "1".
std::vector<std::string> SamplesOf(const cli::ValueSpec& value) {
  if (value.Words) return *value.Words;
  static const std::map<std::string, std::vector<std::string>> kSamples = {
      {"NAME", {"Feature"}},
      {"FOLDER", {"/tmp/jobs"}},
      {"DVD_FOLDER", {"/media/DVD/VIDEO_TS"}},
      {"VTS:PGC[:ANGLE]", {"1:2", "1:1:2"}},
      {"MINUTES", {"5"}},
      {"MB[xN]", {"700", "700x2"}},
      {"KBPS", {"1500"}},
      {"PCT", {"85"}},
      {"N", {"1"}},
      {"DB", {"-3.4"}},
      {"W", {"640"}},
      {"KEY=TEXT", {"title=Summer", "rating=6"}},
      {"JOB", {"Feature", "0"}},
  };
  const auto found = kSamples.find(value.Name);
  return found != kSamples.end() ? found->second : std::vector<std::string>{"1"};
}

// The option with each of its values, as the arguments it takes.
std::vector<std::vector<std::string>> Uses(const cli::OptionSpec& option) {
  if (option.Value.Name.empty()) return {{option.Name}};
  std::vector<std::vector<std::string>> uses;
  if (option.ValueOptional) uses.push_back({option.Name});
  for (const std::string& sample : SamplesOf(option.Value)) {
    if (option.ValueOptional)
      uses.push_back({option.Name + "=" + sample});
    else
      uses.push_back({option.Name, sample});
  }
  return uses;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus>\n", argv[0]);
    return 2;
  }
  std::set<std::vector<std::string>> lines;
  for (const cli::CommandSpec& command : cli::Commands()) {
    std::vector<std::string> head = {command.Name};
    for (const cli::ValueSpec& operand : command.Operands) head.push_back(SamplesOf(operand)[0]);
    std::vector<std::string> all = head;
    for (const cli::OptionSpec& option : command.Options) {
      if (option.Name == "--help") continue;
      for (const std::vector<std::string>& use : Uses(option)) {
        std::vector<std::string> line = head;
        line.insert(line.end(), use.begin(), use.end());
        lines.insert(line);
      }
      const std::vector<std::string> first = Uses(option).front();
      all.insert(all.end(), first.begin(), first.end());
    }
    lines.insert(all);
  }
  int n = 0;
  for (const std::vector<std::string>& line : lines) {
    std::string bytes;
    for (const std::string& argument : line)
      bytes += (bytes.empty() ? "" : std::string(1, '\0')) + argument;
    const std::string path = std::string(argv[1]) + "/table_" + std::to_string(++n);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (!f || std::fclose(f) != 0 || !written) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  std::printf("%d command lines\n", n);
  return 0;
}
