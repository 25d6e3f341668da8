#pragma once

#include <QLabel>
#include <QWidget>

namespace wizard {

// The small "Please wait..." window shown while the chosen title is
// prepared. While it is shown the wizard is disabled and the cursor is the
// hourglass; the user cannot close it, the end of the work does (Finish).
class TKVNNewWaitForm : public QWidget {
  Q_OBJECT
 public:
  explicit TKVNNewWaitForm(QWidget* wizard);

  // Closes the window: the cursor and the wizard are given back.
  void Finish();

  QLabel* WaitImage;
  QLabel* WaitLabel;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* wizard_;
  bool shown_ = false;
  bool finishing_ = false;
};

}  // namespace wizard
