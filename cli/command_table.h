#pragma once

#include <string>
#include <vector>

#include "cli/cli_arguments.h"

// The commands of kestrevane-cli as one table: what the parser reads, what
// --help prints, and what the manual page and the shell completion are made
// from at build time.
namespace cli {

// What a shell offers for a value or an operand.
enum class Completion { None, Words, Folder, Job };

struct ValueSpec {
  std::string Name;  // "MODE"; empty: the option is a flag
  Completion Completes = Completion::None;
  const std::vector<std::string>* Words = nullptr;  // for Completion::Words
};

struct OptionSpec {
  std::string Name;  // "--channels"
  ValueSpec Value;
  bool ValueOptional = false;  // "--shutdown[=WHEN]": a value only after "="
  std::string Help;            // lines after the first are indented under it
  // Stores the value in the request; the error naming the option, or empty.
  std::string (*Apply)(CliRequest& request, const std::string& value) = nullptr;
};

struct CommandSpec {
  std::string Name;
  CommandKind Kind;
  std::string Usage;        // after "kestrevane-cli "
  std::string Summary;      // the line in the list of commands
  std::string Description;  // what the command does, in sentences
  std::vector<ValueSpec> Operands;
  std::vector<OptionSpec> Options;
  // Takes the operands and checks the options together; error or empty.
  std::string (*Finish)(CliRequest& request, const std::vector<std::string>& operands) = nullptr;
};

// A titled part of the main help and of the manual page: a paragraph, then
// terms with their explanations.
struct HelpSection {
  std::string Title;
  std::string Text;
  std::vector<std::pair<std::string, std::string>> Items;
};

const std::vector<CommandSpec>& Commands();
const CommandSpec* FindCommand(const std::string& name);

// What the program as a whole does, in one line and in sentences.
extern const char* const kProgramSummary;
extern const char* const kProgramDescription;
// Files, environment, exit status and examples.
const std::vector<HelpSection>& ReferenceSections();

// The help texts, made from the table.
std::string MainHelp();
std::string CommandHelp(const CommandSpec& command);

}  // namespace cli
