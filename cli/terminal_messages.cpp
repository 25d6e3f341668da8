#include "cli/terminal_messages.h"

namespace cli {

std::string ErrorLine(const std::string& text) {
  return "kestrevane-cli: " + text;
}

platform::MessageAnswer TerminalMessages::Show(QWidget*, const std::string& text,
                                               platform::MessageIcon icon,
                                               platform::MessageButtons buttons) {
  if (buttons == platform::MessageButtons::YesNo) {
    std::fprintf(out_, "%s [yes]\n", text.c_str());
    std::fflush(out_);
    return platform::MessageAnswer::Yes;
  }
  if (icon == platform::MessageIcon::Error || icon == platform::MessageIcon::Warning) {
    failures_.push_back(text);
    std::fprintf(err_, "%s\n", ErrorLine(text).c_str());
    std::fflush(err_);
  } else {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
  }
  return platform::MessageAnswer::Ok;
}

}  // namespace cli
