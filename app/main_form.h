#pragma once

#include <QWidget>
#include <string>

#include "app/startup_checks.h"

namespace queue {
class TKVNMenuForm;
}

namespace app {

// The new-job wizard over the queue window `owner`; a DVD folder dropped on
// the queue window comes as `dvd_source` and fills in the wizard's source.
QWidget* CreateNewJobWizard(queue::TKVNMenuForm* owner, const std::string& dvd_source);

// The application's main window. It is never seen: it owns the application
// as a whole, starts the splash sequence when it is first shown, follows the
// working window's rectangle, and routes close requests from outside (the
// session ending, SIGTERM, SIGHUP) to the working window activated last.
class TKVNMainForm : public QWidget {
  Q_OBJECT
 public:
  explicit TKVNMainForm(StartupEnvironment environment);

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void FormPaint();
  void FormClose(QCloseEvent* event);
  void ShowQueueWindow();

  StartupEnvironment environment_;
  bool shown_before_ = false;
};

}  // namespace app
