#include "wizard/new_wait_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QIcon>

namespace wizard {

TKVNNewWaitForm::TKVNNewWaitForm(QWidget* wizard)
    // Not a child of the wizard: a child window would be disabled with it.
    : QWidget(nullptr,
              Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      wizard_(wizard) {
  setObjectName(QStringLiteral("TKVNNewWaitForm"));
  setWindowTitle(QStringLiteral("Kestrevane"));
  setFixedSize(219, 64);
  WaitImage = new QLabel(this);
  WaitImage->setObjectName(QStringLiteral("WaitImage"));
  WaitImage->setGeometry(8, 8, 48, 48);
  WaitImage->setPixmap(QIcon(QStringLiteral(":/wizard/wait.svg")).pixmap(48, 48));
  WaitLabel = new QLabel(QStringLiteral("Please wait..."), this);
  WaitLabel->setObjectName(QStringLiteral("WaitLabel"));
  QFont font(QStringLiteral("Verdana"));
  font.setPixelSize(19);
  font.setBold(true);
  font.setItalic(true);
  WaitLabel->setFont(font);
  WaitLabel->setGeometry(64, 8, 219 - 64 - 4, 48);
  if (wizard_) {
    const QRect owner = wizard_->frameGeometry();
    move(owner.center() - QPoint(width() / 2, height() / 2));
  }
}

void TKVNNewWaitForm::Finish() {
  finishing_ = true;
  close();
}

void TKVNNewWaitForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  if (wizard_) wizard_->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TKVNNewWaitForm::closeEvent(QCloseEvent* event) {
  if (!finishing_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
  if (!shown_) return;
  shown_ = false;
  QApplication::restoreOverrideCursor();
  if (wizard_) wizard_->setEnabled(true);
}

}  // namespace wizard
