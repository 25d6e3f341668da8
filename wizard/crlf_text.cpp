#include "wizard/crlf_text.h"

#include <cstdarg>
#include <cstdio>

namespace wizard {
namespace {

void AppendFormatted(std::string& text, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return;
  const size_t at = text.size();
  text.resize(at + static_cast<size_t>(length) + 1);
  std::vsnprintf(text.data() + at, static_cast<size_t>(length) + 1, format, args);
  text.resize(at + static_cast<size_t>(length));  // without the terminating zero
}

}  // namespace

void CrLfText::Line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatted(text_, format, args);
  va_end(args);
  text_ += "\r\n";
}

void CrLfText::IndentedLine(int indent, const char* format, ...) {
  text_.append(static_cast<size_t>(indent), ' ');
  va_list args;
  va_start(args, format);
  AppendFormatted(text_, format, args);
  va_end(args);
  text_ += "\r\n";
}

}  // namespace wizard
