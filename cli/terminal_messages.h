#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace cli {

// The program's message boxes on a terminal: failures and refusals go to the
// error stream as "kestrevane-cli: <text>", notes to the output. A question
// stands for a choice the user already made on the command line, so it is
// answered Yes (and shown, so the log says what was decided).
class TerminalMessages : public platform::MessageBoxes {
 public:
  TerminalMessages(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  platform::MessageAnswer Show(QWidget* owner, const std::string& text, platform::MessageIcon icon,
                               platform::MessageButtons buttons) override;

  // The errors and warnings shown so far.
  const std::vector<std::string>& Failures() const { return failures_; }

 private:
  std::FILE* out_;
  std::FILE* err_;
  std::vector<std::string> failures_;
};

// "kestrevane-cli: " followed by the text with its line breaks kept.
std::string ErrorLine(const std::string& text);

}  // namespace cli
