#pragma once

#include <QPushButton>
#include <QStackedWidget>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "tests/wizard/fake_wizard_host.h"
#include "wizard/wizard_frame.h"
#include "wizard/wizard_state.h"

namespace kv_test {

// A bare wizard frame for testing single pages: a notebook of four pages
// (empty ones where no page was put), the button row, the header texts, and
// the shared state. Next and Back move between the pages as the real frame
// does, asking the page that is left.
class TestWizardFrame : public QWidget, public wizard::WizardFrame {
  Q_OBJECT
 public:
  TestWizardFrame();

  // Puts `page` (a widget implementing WizardPage) at `index`.
  void SetPage(wizard::WizardPageIndex index, QWidget* page);
  int CurrentPage() const { return notebook_->currentIndex(); }
  // Enters page `index` as the frame would.
  void EnterPage(wizard::WizardPageIndex index);

  wizard::WizardState& State() override { return state_; }
  wizard::WizardHost& Host() override { return host; }
  QWidget* Window() override { return this; }
  void SetHeader(int icon, const QString& title, const QString& comment) override;
  void SetHeaderComment(const QString& comment) override { header_comment = comment; }
  void SelectNotebookPage(wizard::WizardPageIndex page) override;
  QPushButton* NextButton() override { return next_; }
  QPushButton* BackButton() override { return back_; }
  QPushButton* PreviewButton() override { return preview_; }
  void NextButtonClick() override;
  queue::JobStore::AddResult AddJobFromFolder(const std::string& folder) override {
    added.push_back(folder);
    return {};
  }
  void BackButtonClick();
  void Release() override { ++releases; }

  FakeWizardHost host;
  int header_icon = -1;
  QString header_title, header_comment;
  int releases = 0;
  std::vector<std::string> added;  // folders handed to the queue
  // Pages entered, in order.
  std::vector<int> entered;

 private:
  wizard::WizardPage* Page(int index) const;

  wizard::WizardState state_;
  QStackedWidget* notebook_;
  std::array<QWidget*, 4> pages_{};
  QPushButton *next_, *back_, *preview_;
};

}  // namespace kv_test
