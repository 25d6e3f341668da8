#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "app/shell_values.h"

namespace app {

class TKVNSplashForm;

// The process-wide state of the application shell: the values the start-up
// checks set, and the shell's windows. Everything here is used on the
// user-interface thread only.
struct ShellState : ShellValues {
  QPointer<QWidget> MainWindow;
  QPointer<TKVNSplashForm> SplashWindow;
  QPointer<QWidget> QueueWindow;
  QPointer<QWidget> LastActivatedWindow;
  bool ClosingInProgress = false;
  // EndApplication was called: the message loop ends as soon as it runs.
  bool EndRequested = false;
};

ShellState& Shell();

// Puts every value back to its state before start-up (tests run the shell
// several times in one process).
void ResetShell();

// Asks the message loop to end; the exit clean-up runs after it.
void EndApplication();

// Minimises every window of the application.
void MinimizeApplication();

// Restores the application's minimised windows and brings its working
// window (the one activated last, else the queue window or the splash) to
// the front; an open About window stays on top of it.
void BringApplicationForward();

// Makes a working window (the queue window, the wizard) behave as a part of
// the application: the hidden main window follows its position and size, a
// minimise minimises the whole application, and its activation makes it the
// window that a close request from outside is routed to.
class WorkingWindowTracker : public QObject {
  Q_OBJECT
 public:
  explicit WorkingWindowTracker(QWidget* window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CopyPosition();
  void CopySize();

  QWidget* window_;
};

}  // namespace app
