#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>

#include "platform/registry_access.h"
#include "platform/registry_store.h"

namespace app {

class TKVNSplashForm;

// The process-wide values of the application shell. They are set by the
// start-up checks and read by the working windows; everything here is used
// on the user-interface thread only.
struct ShellState {
  std::string ApplicationTitle;
  // The folder of the program file, ending in exactly one "/".
  std::string ProgramFolder;
  std::string EncoderPath;
  // The store behind RegistryAccess; both live from the start-up checks to
  // the exit clean-up.
  std::unique_ptr<platform::RegistryStore> RegistryStore;
  std::unique_ptr<platform::RegistryAccess> RegistryAccess;

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
