#include "queue/up_down.h"

#include <QVBoxLayout>
#include <algorithm>

namespace queue {

UpDown::UpDown(QLineEdit* buddy, QWidget* parent) : QWidget(parent), buddy_(buddy) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  up_ = new QToolButton(this);
  down_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* button : {up_, down_}) {
    button->setAutoRepeat(true);
    button->setFixedSize(16, 11);
    button->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(button);
  }
  connect(up_, &QToolButton::clicked, this, &UpDown::StepUp);
  connect(down_, &QToolButton::clicked, this, &UpDown::StepDown);
  setFixedSize(16, 22);
}

int UpDown::Position() const {
  bool ok = false;
  const int value = buddy_->text().toInt(&ok);
  return ok ? value : 0;
}

void UpDown::SetPosition(int position) {
  if (minimum_ <= maximum_) position = std::clamp(position, minimum_, maximum_);
  const QString text = QString::number(position);
  if (buddy_->text() == text) return;
  buddy_->setText(text);
  emit PositionChanged(position);
}

void UpDown::ShowState(int position, int maximum) {
  maximum_ = maximum;
  buddy_->setText(QString::number(position));
}

void UpDown::StepUp() {
  if (Position() < maximum_) SetPosition(Position() + increment_);
}

void UpDown::StepDown() {
  if (Position() > minimum_) SetPosition(Position() - increment_);
}

}  // namespace queue
