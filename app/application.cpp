#include "app/application.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <memory>

#include "app/main_form.h"
#include "app/outside_close_requests.h"
#include "app/shell_state.h"
#include "app/splash_form.h"
#include "platform/instance_activation.h"
#include "platform/message_box.h"
#include "platform/single_instance.h"
#include "platform/window_dialogs.h"

namespace app {

namespace {

// The application's standard error display: an error that escapes an event
// handler is shown and the message loop goes on.
void ShowUnhandledError(const std::string& text) {
  platform::ShowMessage(nullptr, text, platform::MessageIcon::Error);
}

class KestrevaneApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      ShowUnhandledError(error.what());
    } catch (...) {
      ShowUnhandledError("");
    }
    return false;
  }
};

}  // namespace

int RunKestrevane(const StartupEnvironment& environment) {
  platform::UseWindowDialogs();
  using platform::SingleInstanceLock;
  SingleInstanceLock::Attempt instance = SingleInstanceLock::Acquire(kSingleInstanceName);
  if (instance.outcome == SingleInstanceLock::Outcome::HeldByAnother) {
    // The running instance comes forward before this one says why it goes.
    platform::RequestActivation(instance.path);
    platform::ShowMessage(nullptr, "Kestrevane is already running!",
                          platform::MessageIcon::Information);
    return 1;
  }
  // A lock that cannot be had anywhere says nothing about another instance:
  // the program runs without the guard.
  if (instance.outcome == SingleInstanceLock::Outcome::Unavailable)
    std::fprintf(stderr, "Kestrevane: running without the single-instance guard: %s\n",
                 instance.reason.c_str());
  std::unique_ptr<platform::ActivationListener> activation;
  if (instance.lock) {
    activation = std::make_unique<platform::ActivationListener>(instance.path);
    QObject::connect(activation.get(), &platform::ActivationListener::ActivationRequested,
                     &BringApplicationForward);
  }

  ResetShell();
  const bool quit_on_last_window = QApplication::quitOnLastWindowClosed();
  // The application ends when the queue window asks for it, never because
  // its last visible window went away.
  QApplication::setQuitOnLastWindowClosed(false);
  {
    auto main_window = std::make_unique<TKVNMainForm>(environment);
    Shell().MainWindow = main_window.get();
    OutsideCloseRequests outside;
    QObject::connect(&outside, &OutsideCloseRequests::CloseRequested, main_window.get(),
                     &QWidget::close);
    // Shown from inside the loop, so that an early request to end is heard.
    QTimer::singleShot(0, main_window.get(), [window = main_window.get()] { window->show(); });
    try {
      QApplication::exec();
    } catch (const std::exception& error) {
      ShowUnhandledError(error.what());
    } catch (...) {
      ShowUnhandledError("");
    }
    delete Shell().QueueWindow.data();
    delete Shell().SplashWindow.data();
  }
  RunExitCleanup(environment, Shell());
  ResetShell();
  QApplication::setQuitOnLastWindowClosed(quit_on_last_window);
  activation.reset();
  return 0;  // `instance` goes now and frees the name for the next start
}

int KestrevaneMain(int argc, char** argv) {
  KestrevaneApplication application(argc, argv);
  return RunKestrevane(StartupEnvironment::OfThisProcess());
}

}  // namespace app
