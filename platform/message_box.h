#pragma once

#include <string>

#include "platform/seam.h"

class QWidget;

namespace platform {

enum class MessageIcon { Information, Warning, Error, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// Every modal message the program shows goes through this service; the
// caption is always "Kestrevane". Without windows the text goes to the error
// stream (and a question is answered No); a program with windows installs
// the message boxes (platform/window_dialogs.h).
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual MessageAnswer Show(QWidget* owner, const std::string& text, MessageIcon icon,
                             MessageButtons buttons) = 0;
};

inline constexpr const char* kMessageCaption = "Kestrevane";

Seam<MessageBoxes>& MessageBoxSeam();

// Shorthands used by the windows.
MessageAnswer ShowMessage(QWidget* owner, const std::string& text, MessageIcon icon,
                          MessageButtons buttons = MessageButtons::Ok);
inline bool AskYesNo(QWidget* owner, const std::string& text,
                     MessageIcon icon = MessageIcon::Question) {
  return ShowMessage(owner, text, icon, MessageButtons::YesNo) == MessageAnswer::Yes;
}

}  // namespace platform
