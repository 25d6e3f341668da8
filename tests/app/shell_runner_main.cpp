// The program's real start-up, run as a process of its own for the tests of
// two instances at once:
//
//   kv_shell_runner <program folder> <system folder> <registry store>
//
// Message boxes are answered Yes/Ok and reported as "MESSAGE <text>" lines;
// "READY" follows once the queue window is on screen. The exit code is the
// program's.
#include <QApplication>
#include <QTimer>
#include <cstdio>

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietMessageHandler);
  QApplication application(argc, argv);
  PrintedMessageBoxes boxes;
  platform::ScopedSeamOverride<platform::MessageBoxes> answered(platform::MessageBoxSeam(), boxes);
  QTimer ready;
  QObject::connect(&ready, &QTimer::timeout, [&ready] {
    QWidget* queue_window = app::Shell().QueueWindow;
    if (queue_window && queue_window->isVisible()) {
      std::printf("READY\n");
      std::fflush(stdout);
      ready.stop();
    }
  });
  ready.start(20);
  return app::RunKestrevane({argv[1], argv[2], argv[3]});
}
