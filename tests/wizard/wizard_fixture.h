#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <string>
#include <vector>

#include "tests/queue/queue_window_fixture.h"
#include "tests/support/serve_events.h"
#include "wizard/new_form.h"

namespace kv_test {

// The new-job wizard opened over a queue window of its own, with every
// message box, folder chooser and sound answered by the recorders.
class WizardTest : public QueueWindowTest {
 protected:
  ~WizardTest() override;

  // Shows the queue window and opens the wizard over it, disabling it as
  // New Job does.
  void OpenWizard();
  wizard::TKVNNewForm* Wizard() { return wizard_; }
  bool WizardOpen() const { return !wizard_.isNull(); }

  template <class Control>
  Control* Find(const char* name) {
    auto* control = wizard_->findChild<Control*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
  QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
  QString LabelText(const char* name) { return Find<QLabel>(name)->text(); }
  void Click(const char* button);
  // Fills page 1 as typed; the name is typed key by key.
  void FillSourcePage(const std::string& name, const std::string& location,
                      const std::string& source);
  std::string Jobs() { return dir_.File("jobs"); }
  // Fills page 1 for a job `name` of `source` in Jobs() and clicks Next.
  void StartAnalysis(const std::string& source, const std::string& name = "Job");
  // Serves the wizard until its analysis has ended (the wizard may be gone).
  void WaitForAnalysis();
  // The Event column of the log list.
  std::vector<std::string> LogLines();
  // Closes the wizard through its close box; processes the deferred delete.
  void CloseWizard();
  // Runs the event loop until the wizard is gone.
  void SettleDeletes();

  QPointer<wizard::TKVNNewForm> wizard_;
};

}  // namespace kv_test
