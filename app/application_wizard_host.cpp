#include "app/application_wizard_host.h"

#include <QPointer>
#include <QString>

#include "app/shell_state.h"
#include "queue/queue_window.h"

namespace app {

namespace {

class ShellForWizard : public wizard::WizardHost {
 public:
  explicit ShellForWizard(queue::TKVNMenuForm* queue_window) : queue_window_(queue_window) {}

  std::string ProgramFolder() const override { return Shell().ProgramFolder; }
  QWidget* DialogOwner() const override { return queue_window_; }

  std::string ApplicationTitle() const override { return Shell().ApplicationTitle; }
  void SetApplicationTitle(const std::string& title) override {
    // The hidden main window carries the application's title.
    if (QWidget* main = Shell().MainWindow) main->setWindowTitle(QString::fromStdString(title));
  }

  bool ClosingInProgress() const override { return Shell().ClosingInProgress; }
  void SetClosingInProgress(bool closing) override { Shell().ClosingInProgress = closing; }

  std::vector<queue::JobEntry> Jobs() const override {
    return queue_window_ ? queue_window_->Jobs().Jobs() : std::vector<queue::JobEntry>();
  }
  queue::JobStore::AddResult AddJobFromFolder(const std::string& folder) override {
    if (queue_window_) return queue_window_->AddJobFromFolder(folder);
    return {};
  }
  void AttachWorkingWindow(QWidget* window) override { new WorkingWindowTracker(window); }

 private:
  QPointer<queue::TKVNMenuForm> queue_window_;
};

}  // namespace

std::shared_ptr<wizard::WizardHost> MakeWizardHost(queue::TKVNMenuForm* queue_window) {
  return std::make_shared<ShellForWizard>(queue_window);
}

}  // namespace app
