// The message-box seam. A program without windows says its messages on the
// error stream; a program with windows installs the dialogs at its start
// (UseWindowDialogs).
#include "platform/message_box.h"

#include <cstdio>

namespace platform {
namespace {

// Nobody to ask: the text goes to the error stream, and a question is
// answered No, so that nothing is done that a user did not confirm.
class MessagesWithoutWindows : public MessageBoxes {
 public:
  MessageAnswer Show(QWidget*, const std::string& text, MessageIcon,
                     MessageButtons buttons) override {
    std::fprintf(stderr, "%s: %s\n", kMessageCaption, text.c_str());
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  }
};

}  // namespace

Seam<MessageBoxes>& MessageBoxSeam() {
  static MessagesWithoutWindows real;
  static Seam<MessageBoxes> seam(real);
  return seam;
}

MessageAnswer ShowMessage(QWidget* owner, const std::string& text, MessageIcon icon,
                          MessageButtons buttons) {
  return MessageBoxSeam().Current().Show(owner, text, icon, buttons);
}

}  // namespace platform
