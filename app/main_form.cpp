#include "app/main_form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "app/application_queue_shell.h"
#include "app/application_wizard_host.h"
#include "app/shell_state.h"
#include "app/splash_form.h"
#include "queue/queue_window.h"
#include "wizard/new_form.h"

namespace app {

QWidget* CreateNewJobWizard(queue::TKVNMenuForm* owner, const std::string& dvd_source) {
  return new wizard::TKVNNewForm(MakeWizardHost(owner), dvd_source);
}

TKVNMainForm::TKVNMainForm(StartupEnvironment environment)
    : QWidget(nullptr, Qt::FramelessWindowHint), environment_(std::move(environment)) {
  setObjectName(QStringLiteral("TKVNMainForm"));
  setWindowTitle(QStringLiteral("Kestrevane"));
  // Shown as far as the application is concerned, but never mapped.
  setAttribute(Qt::WA_DontShowOnScreen);
  QPoint centre;
  if (QScreen* screen = QGuiApplication::primaryScreen())
    centre = QPoint(screen->geometry().width() / 2, screen->geometry().height() / 2);
  setGeometry(QRect(centre, QSize(0, 0)));
}

void TKVNMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_before_) return;
  shown_before_ = true;
  FormShow();
}

void TKVNMainForm::paintEvent(QPaintEvent*) {
  FormPaint();
}

void TKVNMainForm::closeEvent(QCloseEvent* event) {
  FormClose(event);
}

void TKVNMainForm::FormShow() {
  ShellState& shell = Shell();
  auto* splash = new TKVNSplashForm();
  shell.SplashWindow = splash;
  // A splash without version information has shown its message and asked
  // the application to end.
  if (splash->VersionError()) return;
  splash->show();
  splash->RunSplashSequence(
      [this] {
        ShellState& shell = Shell();
        if (shell.MainWindow)
          shell.ApplicationTitle = shell.MainWindow->windowTitle().toStdString();
        return RunStartupChecks(environment_, Shell());
      },
      [this] { ShowQueueWindow(); });
}

void TKVNMainForm::ShowQueueWindow() {
  // New Job opens the wizard over the queue window.
  queue::TKVNMenuForm::SetWizardFactory(&CreateNewJobWizard);
  auto* queue_window =
      new queue::TKVNMenuForm(ApplicationQueueShell(), queue::MakeEncoderController());
  Shell().QueueWindow = queue_window;
  queue_window->show();
}

void TKVNMainForm::FormPaint() {
  if (isVisible()) hide();
}

void TKVNMainForm::FormClose(QCloseEvent* event) {
  ShellState& shell = Shell();
  if (!shell.ClosingInProgress && shell.LastActivatedWindow) {
    // The working window decides: it may ask the user and refuse.
    shell.ClosingInProgress = true;
    event->ignore();
    shell.LastActivatedWindow->close();
    return;
  }
  event->accept();
  EndApplication();
}

}  // namespace app
