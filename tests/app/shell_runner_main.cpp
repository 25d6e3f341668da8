// The program's real start-up, run as a process of its own for the tests of
// two instances at once:
//
//   kv_shell_runner <program folder> <system folder> <registry store>
//
// Message boxes are answered Yes/Ok and reported as "MESSAGE <text>" lines;
// "READY" follows once the queue window is on screen. The line "minimize" on
// standard input minimises the queue window ("MINIMIZED"); "RESTORED" tells
// when it is restored again. The exit code is the program's.
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindowStateChangeEvent>
#include <cstdio>
#include <string>

#include "app/application.h"
#include "app/shell_state.h"
#include "platform/message_box.h"

namespace {

class PrintedMessageBoxes : public platform::MessageBoxes {
 public:
  platform::MessageAnswer Show(QWidget*, const std::string& text, platform::MessageIcon,
                               platform::MessageButtons buttons) override {
    std::printf("MESSAGE %s\n", text.c_str());
    std::fflush(stdout);
    return buttons == platform::MessageButtons::YesNo ? platform::MessageAnswer::Yes
                                                      : platform::MessageAnswer::Ok;
  }
};

// The offscreen platform's complaints about window opacity only fill the
// test's output.
void QuietMessageHandler(QtMsgType, const QMessageLogContext&, const QString& message) {
  if (!message.startsWith(QLatin1String("This plugin does not support")))
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Reports the queue window's way between minimised and restored.
class WindowStates : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::WindowStateChange) {
      const bool was =
          static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized;
      const bool is = static_cast<QWidget*>(watched)->windowState() & Qt::WindowMinimized;
      if (is != was) Say(is ? "MINIMIZED" : "RESTORED");
    }
    return false;
  }
  static void Say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietMessageHandler);
  QApplication application(argc, argv);
  PrintedMessageBoxes boxes;
  platform::ScopedSeamOverride<platform::MessageBoxes> answered(platform::MessageBoxSeam(), boxes);
  WindowStates states;
  QTimer ready;
  QObject::connect(&ready, &QTimer::timeout, [&ready, &states] {
    QWidget* queue_window = app::Shell().QueueWindow;
    if (queue_window && queue_window->isVisible()) {
      queue_window->installEventFilter(&states);
      WindowStates::Say("READY");
      ready.stop();
    }
  });
  ready.start(20);
  QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&commands, &QSocketNotifier::activated, [&commands] {
    char line[64];
    const ssize_t n = read(STDIN_FILENO, line, sizeof line);
    if (n <= 0) {
      commands.setEnabled(false);
      return;
    }
    QWidget* queue_window = app::Shell().QueueWindow;
    if (queue_window && std::string(line, static_cast<size_t>(n)) == "minimize\n")
      queue_window->showMinimized();
  });
  return app::RunKestrevane({argv[1], argv[2], argv[3]});
}
