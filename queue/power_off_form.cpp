#include "queue/power_off_form.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "queue/run_messages.h"

namespace queue {

TKVNPowerOffForm::TKVNPowerOffForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("TKVNPowerOffForm"));
  setWindowTitle(QStringLiteral("Kestrevane"));
  // Above the queue window, which stays usable for whoever is at the desk.
  setWindowModality(Qt::NonModal);
  auto* layout = new QVBoxLayout(this);
  CountdownLabel = new QLabel(this);
  CountdownLabel->setObjectName(QStringLiteral("CountdownLabel"));
  layout->addWidget(CountdownLabel);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setDefault(true);
  connect(CancelButton, &QPushButton::clicked, this, &TKVNPowerOffForm::CancelButtonClick);
  buttons->addWidget(CancelButton);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TKVNPowerOffForm::ShowSecondsLeft(int seconds_left) {
  CountdownLabel->setText(QString::fromStdString(PowerOffCountdownText(seconds_left)));
}

void TKVNPowerOffForm::CancelButtonClick() {
  emit CancelRequested();
}

void TKVNPowerOffForm::reject() {
  // Escape and the window's close button keep the computer on too.
  emit CancelRequested();
}

}  // namespace queue
