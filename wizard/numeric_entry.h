#pragma once

#include <QObject>
#include <functional>

class QEvent;
class QKeyEvent;
class QLineEdit;
class QWidget;

namespace queue {
class UpDown;
}

namespace wizard {

// The two warnings of a number field that is left empty or holding text that
// is not an integer.
struct NumberMessages {
  const char* empty;
  const char* invalid;
};

// Whether a key may reach a number field: digits, backspace and keys that
// type nothing (arrows, Tab, shortcuts such as paste) pass.
bool IsNumberKey(const QKeyEvent& event);

// Whether a key may reach a clip text field: characters 1..127 other than
// the five that the encoder job file cannot hold.
bool IsClipTextKey(const QKeyEvent& event);

// The whole text read as a decimal integer without sign.
bool HoldsInteger(const QLineEdit& edit);

// The value of an up-down: the number its field holds, kept within the range.
int SpinnerValue(const queue::UpDown& up_down);

// The check run when a number field is left: an empty field or one whose
// text is not an integer gets its warning and the focus back (false).
bool CheckNumberField(QLineEdit& edit, const NumberMessages& messages);

// Watches a text field for the two events a page handles itself: key
// presses that `accepts` refuses are swallowed with the default beep, and
// leaving the field for another control of the program (not for another
// program or a popup) calls `left`.
class EditWatcher : public QObject {
 public:
  EditWatcher(QWidget* edit, std::function<bool(const QKeyEvent&)> accepts,
              std::function<void()> left);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<bool(const QKeyEvent&)> accepts_;
  std::function<void()> left_;
};

}  // namespace wizard
