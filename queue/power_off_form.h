#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace queue {

// The window that counts down to the power-off after a run, with the button
// that cancels it. It only shows the seconds it is given; the countdown and
// the power-off belong to the runner. Closing the window cancels as well.
class TKVNPowerOffForm : public QDialog {
  Q_OBJECT
 public:
  explicit TKVNPowerOffForm(QWidget* owner);

  void ShowSecondsLeft(int seconds_left);

 signals:
  // The user wants the computer to stay on.
  void CancelRequested();

 public slots:
  void CancelButtonClick();

 protected:
  void reject() override;

 private:
  QLabel* CountdownLabel;
  QPushButton* CancelButton;
};

}  // namespace queue
