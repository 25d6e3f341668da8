// The manual pages as the build makes them for the package: man reads them
// without a warning, and they say what the help texts and the Readme say.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "cli/command_table.h"
#include "packaging/manual_page.h"
#include "tests/support/temp_dir.h"

namespace {

struct Output {
  int status = -1;
  std::string text;
};

// Runs a shell command; its standard output, or its error output as well.
Output RunShell(const std::string& command) {
  Output out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
  out.status = pclose(pipe);
  return out;
}

// The page as man shows it on a wide terminal, without overstriking.
std::string Rendered(const std::string& page) {
  return RunShell("MANWIDTH=250 man -E UTF-8 -l '" + page + "' 2>&1 | col -b").text;
}

// Fills the help text's lines into one, as roff fills them.
std::string Filled(const std::string& text) {
  std::istringstream words(text);
  std::string out;
  for (std::string word; words >> word;) out += (out.empty() ? "" : " ") + word;
  return out;
}

std::string FilledRendering(const std::string& page) {
  std::string text = Rendered(page);
  // man hyphenates nothing at this width but joins words across its lines.
  return Filled(text);
}

TEST(ManualPages, ManReadsThemWithoutAWarning) {
  for (const char* page : {"kestrevane.1", "kestrevane-cli.1"}) {
    // The check lintian makes of every manual page.
    const Output warnings = RunShell(
        "LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "
        "'" KV_DOCS_DIR "/" +
        std::string(page) + "' 2>&1 >/dev/null");
    EXPECT_EQ(warnings.status, 0) << page;
    EXPECT_EQ(warnings.text, "") << page;
  }
}

TEST(ManualPages, TheCliPageSaysWhatTheHelpSays) {
  const std::string page = FilledRendering(KV_DOCS_DIR "/kestrevane-cli.1");
  EXPECT_NE(page.find(Filled(cli::kProgramDescription)), std::string::npos) << page;
  for (const cli::CommandSpec& command : cli::Commands()) {
    EXPECT_NE(page.find(command.Usage), std::string::npos) << command.Name;
    EXPECT_NE(page.find(Filled(command.Description)), std::string::npos) << command.Name;
    for (const cli::OptionSpec& option : command.Options) {
      EXPECT_NE(page.find(option.Name), std::string::npos) << option.Name;
      EXPECT_NE(page.find(Filled(option.Help)), std::string::npos) << option.Name;
    }
  }
  for (const cli::HelpSection& section : cli::ReferenceSections()) {
    std::string title = section.Title;
    for (char& ch : title) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_NE(page.find(title), std::string::npos);
    for (const auto& [term, text] : section.Items) {
      EXPECT_NE(page.find(term), std::string::npos) << term;
      EXPECT_NE(page.find(Filled(text)), std::string::npos) << text;
    }
  }
  EXPECT_NE(page.find("SEE ALSO kestrevane(1)"), std::string::npos);
}

TEST(ManualPages, TheProgramPageIsTheReadme) {
  const std::string page = Rendered(KV_DOCS_DIR "/kestrevane.1");
  const std::string filled = Filled(page);
  const std::string readme = kv_test::ReadFile(KV_README);
  // Every section of the Readme is a section of the page, and every
  // paragraph of the Readme is there, filled.
  std::istringstream lines(readme);
  std::string previous, paragraph;
  int sections = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.find_first_not_of('-') == std::string::npos) {
      std::string title = previous;
      for (char& ch : title) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      EXPECT_NE(page.find("\n" + title + "\n"), std::string::npos) << title;
      ++sections;
    }
    previous = line;
  }
  EXPECT_GE(sections, 3);
  EXPECT_NE(filled.find("Encode encodes the selected job (it must be pending)."), std::string::npos)
      << page;
  EXPECT_NE(filled.find("1. New Job: give the job a name"), std::string::npos) << page;
  EXPECT_NE(page.find("SEE ALSO"), std::string::npos);
}

TEST(ManualPages, RoffTextKeepsTextFromBeingRequests) {
  struct Case {
    std::string text, roff;
  };
  const Case cases[] = {
      {"plain new-job wizard", "plain new-job wizard"},
      {"--json and -h", "\\-\\-json and \\-h"},
      {"[--all|JOB]", "[\\-\\-all|JOB]"},
      {"a\\b", "a\\eb"},
      {".hidden\n'quoted", "\\&.hidden\n\\&'quoted"},
      {"x\n.y", "x\n\\&.y"},
  };
  for (const Case& c : cases) EXPECT_EQ(packaging::RoffText(c.text), c.roff) << c.text;
}

}  // namespace
