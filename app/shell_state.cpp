#include "app/shell_state.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWindowStateChangeEvent>

#include "app/splash_form.h"

namespace app {

ShellState& Shell() {
  static ShellState state;
  return state;
}

void ResetShell() {
  ShellState& shell = Shell();
  shell.RegistryAccess.reset();
  shell.RegistryStore.reset();
  shell = ShellState();
}

void EndApplication() {
  Shell().EndRequested = true;
  QCoreApplication::quit();
}

void MinimizeApplication() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget != Shell().MainWindow) widget->showMinimized();
  }
}

void BringApplicationForward() {
  ShellState& shell = Shell();
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget != shell.MainWindow &&
        (widget->windowState() & Qt::WindowMinimized))
      widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
  }
  QWidget* front = shell.LastActivatedWindow;
  if (!front || !front->isVisible()) front = shell.QueueWindow;
  if (!front || !front->isVisible()) front = shell.SplashWindow;
  if (!front || !front->isVisible()) return;
  front->raise();
  front->activateWindow();
  // The About window holds the queue window until it is clicked away.
  TKVNSplashForm* about = shell.SplashWindow;
  if (about && about != front && about->isVisible() && !about->SplashMode()) {
    about->raise();
    about->activateWindow();
  }
}

WorkingWindowTracker::WorkingWindowTracker(QWidget* window) : QObject(window), window_(window) {
  window->installEventFilter(this);
}

void WorkingWindowTracker::CopyPosition() {
  if (QWidget* main = Shell().MainWindow) main->move(window_->pos());
}

void WorkingWindowTracker::CopySize() {
  if (QWidget* main = Shell().MainWindow) main->resize(window_->size());
}

bool WorkingWindowTracker::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_) return false;
  switch (event->type()) {
    case QEvent::Show:
      CopyPosition();
      CopySize();
      break;
    case QEvent::Move:
      CopyPosition();
      break;
    case QEvent::Resize:
      CopySize();
      break;
    case QEvent::WindowActivate:
      Shell().LastActivatedWindow = window_;
      break;
    case QEvent::WindowStateChange:
      // Minimising one working window takes the whole application down with
      // it; the other windows follow.
      if ((window_->windowState() & Qt::WindowMinimized) &&
          !(static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized))
        MinimizeApplication();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace app
