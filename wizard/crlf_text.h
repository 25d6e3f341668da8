#pragma once

#include <string>
#include <utility>

namespace wizard {

// The text of a file the program writes (scripts, encoder job files): lines
// made with printf formats, each ended by CR LF.
class CrLfText {
 public:
  // The formatted text and CR LF.
  __attribute__((format(printf, 2, 3))) void Line(const char* format, ...);
  // `indent` blanks, the formatted text and CR LF.
  __attribute__((format(printf, 3, 4))) void IndentedLine(int indent, const char* format, ...);
  // An empty line.
  void Empty() { text_ += "\r\n"; }

  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace wizard
