// Modal message boxes captioned "Kestrevane" and the desktop's beep, installed
// as the real services of their seams by a program with windows.
#include "platform/window_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include "platform/message_box.h"
#include "platform/sounds.h"

namespace platform {
namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

class WindowMessageBoxes : public MessageBoxes {
 public:
  MessageAnswer Show(QWidget* owner, const std::string& text, MessageIcon icon,
                     MessageButtons buttons) override {
    const bool yes_no = buttons == MessageButtons::YesNo;
    QMessageBox box(ToQt(icon), QString::fromUtf8(kMessageCaption), QString::fromStdString(text),
                    yes_no ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, owner);
    box.setWindowModality(Qt::ApplicationModal);
    if (yes_no) {
      box.setDefaultButton(QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::No);  // closing the box is a No
    } else {
      box.setDefaultButton(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Ok);
    }
    const int result = box.exec();
    if (!yes_no) return MessageAnswer::Ok;
    return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
  }
};

class DesktopBeep : public Sounds {
 public:
  void Play(SystemSound) override {
    // Every kind is the same beep; without a widget application there is none.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::beep();
  }
};

}  // namespace

void UseWindowDialogs() {
  static WindowMessageBoxes boxes;
  static DesktopBeep beep;
  MessageBoxSeam().InstallReal(boxes);
  SoundsSeam().InstallReal(beep);
}

}  // namespace platform
