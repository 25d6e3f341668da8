#include "packaging/manual_page.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "cli/command_table.h"

namespace packaging {

namespace {

std::string Header(const std::string& name, const PageStamp& stamp) {
  // No hyphenation: option names and paths read better whole.
  return ".TH " + name + " 1 \"" + stamp.date + "\" \"Kestrevane " + stamp.version +
         "\" \"User Commands\"\n.nh\n";
}

// The help texts break their lines for a terminal; roff fills its own.
std::string Joined(const std::string& text) {
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    out += (out.empty() ? "" : " ") + line.substr(start);
  }
  return out;
}

std::string Bold(const std::string& text) {
  return "\\fB" + RoffText(text) + "\\fR";
}

void Section(std::string& out, const std::string& title) {
  out += ".SH \"" + title + "\"\n";
}

void Paragraphs(std::string& out, const std::string& text) {
  out += ".PP\n" + RoffText(Joined(text)) + "\n";
}

void TaggedParagraph(std::string& out, const std::string& tag, const std::string& text) {
  out += ".TP\n" + tag + "\n" + RoffText(Joined(text)) + "\n";
}

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string OptionTag(const cli::OptionSpec& option) {
  if (option.Value.Name.empty()) return Bold(option.Name);
  const std::string value = "\\fI" + RoffText(option.Value.Name) + "\\fR";
  return Bold(option.Name) + (option.ValueOptional ? "[=" + value + "]" : " " + value);
}

}  // namespace

std::string RoffText(const std::string& text) {
  std::string out;
  bool word_start = true, option_word = false;
  for (char c : text) {
    if (word_start) option_word = c == '-';
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && option_word) {
      out += "\\-";
    } else {
      out += c;
    }
    word_start = c == ' ' || c == '\n' || c == '[' || c == '(' || c == '|';
  }
  // A line that starts with a control character would be a request.
  std::string safe;
  for (size_t start = 0; start < out.size();) {
    const size_t end = std::min(out.find('\n', start), out.size());
    if (out[start] == '.' || out[start] == '\'') safe += "\\&";
    safe += out.substr(start, end + 1 - start);
    start = end + 1;
  }
  return safe;
}

std::string CliManualPage(const PageStamp& stamp) {
  std::string out = Header("KESTREVANE-CLI", stamp);
  Section(out, "NAME");
  out += "kestrevane-cli \\- " + RoffText(cli::kProgramSummary) + "\n";
  Section(out, "SYNOPSIS");
  for (const cli::CommandSpec& command : cli::Commands()) {
    out += ".B kestrevane-cli\n" + RoffText(command.Usage) + "\n.br\n";
  }
  Section(out, "DESCRIPTION");
  Paragraphs(out, cli::kProgramDescription);
  Section(out, "COMMANDS");
  for (const cli::CommandSpec& command : cli::Commands()) {
    out += ".SS \"" + RoffText(command.Usage) + "\"\n";
    Paragraphs(out, command.Description);
    for (const cli::OptionSpec& option : command.Options)
      TaggedParagraph(out, OptionTag(option), option.Help);
  }
  for (const cli::HelpSection& section : cli::ReferenceSections()) {
    Section(out, ToUpper(section.Title));
    if (!section.Text.empty()) Paragraphs(out, section.Text);
    const bool examples = section.Title == "Examples";
    for (const auto& [term, text] : section.Items) {
      if (examples) {
        out += ".PP\n" + RoffText(Joined(text)) + ":\n.PP\n.RS 4\n.EX\n" + RoffText(term) +
               "\n.EE\n.RE\n";
      } else {
        TaggedParagraph(out, Bold(term), text);
      }
    }
  }
  Section(out, "SEE ALSO");
  out += ".BR kestrevane (1)\n";
  return out;
}

namespace {

struct ReadmeBlock {
  std::vector<std::string> lines;
};

// Blocks of the Readme: runs of lines between blank lines.
std::vector<ReadmeBlock> Blocks(const std::string& readme) {
  std::vector<ReadmeBlock> blocks(1);
  std::istringstream lines(readme);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(' ') == std::string::npos) {
      if (!blocks.back().lines.empty()) blocks.emplace_back();
      continue;
    }
    blocks.back().lines.push_back(line);
  }
  if (blocks.back().lines.empty()) blocks.pop_back();
  return blocks;
}

bool IsUnderline(const std::string& line, char mark) {
  return !line.empty() && line.find_first_not_of(mark) == std::string::npos;
}

size_t Indent(const std::string& line) {
  return line.find_first_not_of(' ');
}

// "1. text" and its indented continuation lines.
bool IsStep(const std::string& line) {
  size_t i = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
  return i > 0 && i + 1 < line.size() && line[i] == '.' && line[i + 1] == ' ';
}

// Indented "term   explanation" lines, the explanations in one column.
void Terms(std::string& out, const ReadmeBlock& block) {
  const size_t indent = Indent(block.lines[0]);
  std::string term, text;
  auto flush = [&] {
    if (!term.empty()) TaggedParagraph(out, Bold(term), text);
    term.clear();
    text.clear();
  };
  for (const std::string& line : block.lines) {
    if (Indent(line) != indent) {
      text += "\n" + line;
      continue;
    }
    // A term too long for the column stands alone, its text below it.
    flush();
    const size_t gap = line.find("  ", indent);
    term = line.substr(indent, gap - indent);
    if (gap != std::string::npos) text = line.substr(line.find_first_not_of(' ', gap));
  }
  flush();
}

void Steps(std::string& out, const ReadmeBlock& block) {
  std::string text;
  std::string number;
  auto flush = [&] {
    if (!number.empty()) out += ".IP " + number + " 4\n" + RoffText(Joined(text)) + "\n";
    text.clear();
  };
  for (const std::string& line : block.lines) {
    if (IsStep(line)) {
      flush();
      number = line.substr(0, line.find(' '));
      text = line.substr(number.size() + 1);
    } else {
      text += "\n" + line;
    }
  }
  flush();
}

}  // namespace

std::string ProgramManualPage(const std::string& readme, const PageStamp& stamp) {
  std::string out = Header("KESTREVANE", stamp);
  Section(out, "NAME");
  out += "kestrevane \\- " + RoffText(stamp.summary) + "\n";
  out += ".SH SYNOPSIS\n.B kestrevane\n";
  Section(out, "DESCRIPTION");
  for (const ReadmeBlock& block : Blocks(readme)) {
    const std::vector<std::string>& lines = block.lines;
    if (lines.size() == 2 && IsUnderline(lines[1], '=')) continue;  // the Readme's own title
    if (lines.size() == 2 && IsUnderline(lines[1], '-')) {
      Section(out, ToUpper(lines[0]));
    } else if (IsStep(lines[0])) {
      Steps(out, block);
    } else if (Indent(lines[0]) > 0) {
      Terms(out, block);
    } else {
      Paragraphs(out, [&] {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        return text;
      }());
    }
  }
  Section(out, "SEE ALSO");
  out += ".BR kestrevane-cli (1)\n";
  return out;
}

}  // namespace packaging
