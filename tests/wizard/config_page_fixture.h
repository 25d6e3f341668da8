#pragma once

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "queue/up_down.h"
#include "tests/support/recorders.h"
#include "tests/wizard/fake_wizard_host.h"
#include "wizard/config_page.h"
#include "wizard/wizard_frame.h"
#include "wizard/wizard_state.h"

namespace kv_test {

// One program chain of a sample disc with the facts its analysis and
// preparation give, written out so that the tests of the page's rules need
// no index run (config_page_titles_test checks them against the real ones).
struct HandTitle {
  const char* name;  // "pal_letterbox/1/1": disc, title set, program chain
  int vts = 1;
  int pgc = 1;
  wizard::TitleSetInfo title_set;
};

// The program chains of the sample discs (tests/fixtures/make_sample_dvds.sh).
std::vector<HandTitle> HandTitles();
const HandTitle& HandTitleNamed(const std::string& name);

// A wizard frame of its own around one configuration page: a window with
// the page and the Preview, Back and Next buttons.
class TestFrame : public wizard::WizardFrame {
 public:
  TestFrame();
  ~TestFrame() override;

  wizard::WizardState& State() override { return state_; }
  wizard::WizardHost& Host() override { return host; }
  QWidget* Window() override { return window_.get(); }
  void SetHeader(int icon, const QString& title, const QString& comment) override;
  void SetHeaderComment(const QString& comment) override { header_comment = comment; }
  void SelectNotebookPage(wizard::WizardPageIndex page) override { notebook_page = page; }
  QPushButton* NextButton() override { return next_; }
  QPushButton* BackButton() override { return back_; }
  QPushButton* PreviewButton() override { return preview_; }
  void NextButtonClick() override {}
  queue::JobStore::AddResult AddJobFromFolder(const std::string&) override { return {}; }
  void Release() override {}

  FakeWizardHost host;
  int header_icon = -1;
  QString header_title, header_comment;
  int notebook_page = -1;

 private:
  wizard::WizardState state_;
  std::unique_ptr<QWidget> window_;
  QPushButton *next_, *back_, *preview_;
};

// The configuration page in a test frame, with message boxes, sounds and
// the shell answered by recorders.
class ConfigPageHarness {
 public:
  ConfigPageHarness();
  ~ConfigPageHarness();
  ConfigPageHarness(const ConfigPageHarness&) = delete;
  ConfigPageHarness& operator=(const ConfigPageHarness&) = delete;

  // Chooses a sample title as page 3 leaves it and enters the page.
  void EnterWith(const std::string& title);
  // Back to page 3 and forward again, choosing `title` there.
  void BackAndEnter(const std::string& title);

  template <class T = QWidget>
  T* Find(const char* name) {
    T* widget = page_->findChild<T*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
  queue::UpDown* UpDown(const char* name) { return Find<queue::UpDown>(name); }
  bool Enabled(const char* name) { return Find(name)->isEnabled(); }
  // Shows the sheet of a control, then clicks it.
  void Click(const char* name);
  void Reveal(QWidget* widget);
  // Types into a field that has the focus, then leaves it for the next field.
  void Type(const char* name, const QString& keys);
  void Leave(const char* name);
  void Focus(const char* name);

  wizard::JobSettings& Settings() { return frame_.State().Settings; }
  // The next `count` message boxes are expected and answered OK.
  void ExpectMessages(int count);
  std::vector<std::string> MessageTexts() const;

  MessageBoxRecorder messages_;
  SoundRecorder sounds_;
  ShellRecorder shell_;
  TestFrame frame_;
  wizard::ConfigPage* page_;
};

class ConfigPageTest : public ::testing::Test, public ConfigPageHarness {};

}  // namespace kv_test
