// Modal message boxes captioned "Kestrevane".
#include "platform/message_box.h"

#include <QMessageBox>
#include <QString>

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

class RealMessageBoxes : public MessageBoxes {
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

}  // namespace

Seam<MessageBoxes>& MessageBoxSeam() {
  static RealMessageBoxes real;
  static Seam<MessageBoxes> seam(real);
  return seam;
}

MessageAnswer ShowMessage(QWidget* owner, const std::string& text, MessageIcon icon,
                          MessageButtons buttons) {
  return MessageBoxSeam().Current().Show(owner, text, icon, buttons);
}

}  // namespace platform
