#pragma once

#include <string>
#include <vector>

#include "wizard/wizard_host.h"

namespace kv_test {

// A wizard host that keeps what it is told: no queue window, no
// application around; jobs and the program folder as a test sets them.
class FakeWizardHost : public wizard::WizardHost {
 public:
  std::string ProgramFolder() const override { return program_folder; }
  QWidget* DialogOwner() const override { return owner; }
  std::string ApplicationTitle() const override { return application_title; }
  void SetApplicationTitle(const std::string& title) override { shown_titles.push_back(title); }
  bool ClosingInProgress() const override { return closing; }
  void SetClosingInProgress(bool on) override { closing = on; }
  std::vector<queue::JobEntry> Jobs() const override { return jobs; }
  queue::JobStore::AddResult AddJobFromFolder(const std::string& folder) override {
    added.push_back(folder);
    return {};
  }
  void AttachWorkingWindow(QWidget* window) override { attached.push_back(window); }

  std::string program_folder;
  QWidget* owner = nullptr;
  std::string application_title = "Kestrevane";
  std::vector<std::string> shown_titles;
  bool closing = false;
  std::vector<queue::JobEntry> jobs;
  std::vector<std::string> added;
  std::vector<QWidget*> attached;
};

}  // namespace kv_test
