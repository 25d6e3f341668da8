#include "app/shell_state.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWindowStateChangeEvent>

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
  QCoreApplication::quit();
}

void MinimizeApplication() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget != Shell().MainWindow) widget->showMinimized();
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
