#include "app/application_queue_shell.h"

#include <QString>

#include "app/shell_state.h"
#include "app/splash_form.h"

namespace app {

namespace {

class ShellForQueue : public queue::QueueShell {
 public:
  platform::RegistryAccess& Registry() override { return *Shell().RegistryAccess; }
  std::string ProgramFolder() const override { return Shell().ProgramFolder; }
  std::string EncoderPath() const override { return Shell().EncoderPath; }
  std::string ApplicationTitle() const override { return Shell().ApplicationTitle; }

  void SetApplicationTitle(const std::string& title) override {
    // The hidden main window carries the application's title.
    if (QWidget* main = Shell().MainWindow) main->setWindowTitle(QString::fromStdString(title));
  }

  void AttachWorkingWindow(QWidget* window) override { new WorkingWindowTracker(window); }

  void ShowAbout(QWidget* owner) override {
    if (TKVNSplashForm* about = Shell().SplashWindow) about->ShowAsAbout(owner);
  }

  void SetClosingInProgress(bool closing) override { Shell().ClosingInProgress = closing; }
  void EndApplication() override { app::EndApplication(); }
};

}  // namespace

queue::QueueShell& ApplicationQueueShell() {
  static ShellForQueue shell;
  return shell;
}

}  // namespace app
