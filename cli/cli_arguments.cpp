#include "cli/cli_arguments.h"

#include "cli/command_table.h"

#include <cstdio>

namespace cli {

namespace {

constexpr size_t kHelpColumn = 26;

// "  TERM   text": the text in its column, its further lines under it; a term
// too long for the column puts the text on the next line.
void AppendItem(std::string& out, const std::string& term, const std::string& text) {
  std::string line = "  " + term;
  if (line.size() + 1 > kHelpColumn) {
    out += line + "\n";
    line.clear();
  }
  line.resize(kHelpColumn, ' ');
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    out += line + text.substr(start, end - start) + "\n";
    if (end == std::string::npos) return;
    line.assign(kHelpColumn, ' ');
    start = end + 1;
  }
}

std::string OptionTerm(const OptionSpec& option) {
  if (option.Value.Name.empty()) return option.Name;
  return option.Name +
         (option.ValueOptional ? "[=" + option.Value.Name + "]" : " " + option.Value.Name);
}

// "encode [OPTION]... JOB": the command, whether it has options, and its
// operands; the command's own help has the whole usage.
std::string ShortUsage(const CommandSpec& command) {
  std::string usage = command.Name;
  if (command.Options.size() > 1) usage += " [OPTION]...";
  for (const ValueSpec& operand : command.Operands) usage += " " + operand.Name;
  return usage;
}

const OptionSpec* FindOption(const CommandSpec& command, const std::string& name) {
  for (const OptionSpec& option : command.Options) {
    if (option.Name == name && option.Apply) return &option;
  }
  return nullptr;
}

bool AskedForHelp(const std::vector<std::string>& args, size_t first) {
  for (size_t i = first; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") return true;
  }
  return false;
}

std::string CommandNames() {
  std::string names;
  for (const CommandSpec& command : Commands()) names += (names.empty() ? "" : ", ") + command.Name;
  return names;
}

// Reads "--option value", "--option=value", flags and operands. Returns the
// error, or empty.
std::string ReadOptions(const std::vector<std::string>& args, const CommandSpec& command,
                        CliRequest& request, std::vector<std::string>& operands) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      operands.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionSpec* option = FindOption(command, name);
    if (!option) return name + ": unknown option";
    std::string value;
    if (equals != std::string::npos) {
      if (option->Value.Name.empty()) return name + ": takes no value";
      value = arg.substr(equals + 1);
    } else if (!option->Value.Name.empty() && !option->ValueOptional) {
      if (i + 1 >= args.size()) return name + ": a value is missing";
      value = args[++i];
    }
    if (std::string error = option->Apply(request, value); !error.empty()) return error;
  }
  return {};
}

}  // namespace

std::string MainHelp() {
  std::string out = "Usage: kestrevane-cli COMMAND [OPTION]...\n\n";
  out += std::string(kProgramDescription) + "\n\nCommands:\n";
  for (const CommandSpec& command : Commands())
    AppendItem(out, ShortUsage(command), command.Summary);
  for (const HelpSection& section : ReferenceSections()) {
    out += "\n" + section.Title + ":\n";
    if (!section.Text.empty()) out += section.Text + "\n";
    for (const auto& [term, text] : section.Items) AppendItem(out, term, text);
  }
  out += "\nRun 'kestrevane-cli COMMAND --help' for the options of a command.\n";
  return out;
}

std::string CommandHelp(const CommandSpec& command) {
  std::string out = "Usage: kestrevane-cli " + command.Usage + "\n" + command.Description + "\n\n";
  for (const OptionSpec& option : command.Options) AppendItem(out, OptionTerm(option), option.Help);
  return out;
}

namespace {

// The error names the argument as given; its control characters are shown
// as escapes, so that the error stays one line and cannot steer the terminal.
std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shown;
}

CliRequest ReadArguments(const std::vector<std::string>& args) {
  CliRequest request;
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    request.HelpText = MainHelp();
    return request;
  }
  const CommandSpec* command = FindCommand(args[0]);
  if (!command) {
    request.Error = "'" + args[0] + "' is not a command (" + CommandNames() + ")";
    return request;
  }
  request.Command = command->Kind;
  if (AskedForHelp(args, 1)) {
    request.HelpText = CommandHelp(*command);
    return request;
  }
  std::vector<std::string> operands;
  request.Error = ReadOptions(args, *command, request, operands);
  if (!request.Failed()) request.Error = command->Finish(request, operands);
  return request;
}

}  // namespace

CliRequest ParseArguments(const std::vector<std::string>& args) {
  CliRequest request = ReadArguments(args);
  request.Error = Printable(request.Error);
  return request;
}

}  // namespace cli
