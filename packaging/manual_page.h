#pragma once

#include <string>

// Manual pages in the man macros, made at build time from the texts the
// programs already have: kestrevane-cli(1) from its command table and help
// texts, kestrevane(1) from the Readme the program's Help menu opens.
namespace packaging {

struct PageStamp {
  std::string version;  // "1.0.0"
  std::string date;     // "2026-12-10"
  std::string summary;  // what the program does, for the NAME line of kestrevane(1)
};

// Text for a roff line: backslashes doubled, the hyphens of option words
// as minus signs, a leading '.' or '\'' kept from being a request.
std::string RoffText(const std::string& text);

std::string CliManualPage(const PageStamp& stamp);

// The Readme's first paragraph is the description; its sections (a title
// underlined with '-') become sections of the page; numbered steps and
// "term   explanation" lines become indented paragraphs.
std::string ProgramManualPage(const std::string& readme, const PageStamp& stamp);

}  // namespace packaging
