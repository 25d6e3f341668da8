#pragma once

#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QVector>
#include <QWidget>
#include <array>
#include <memory>
#include <string>

#include "wizard/wizard_frame.h"
#include "wizard/wizard_host.h"
#include "wizard/wizard_state.h"

class QFrame;

namespace wizard {

class AnalysisPage;
class SourcePage;

// The new-job wizard: a header naming the step, the notebook with the four
// pages and the button row that moves between them. It is a window of its
// own beside the window its host opens it over (the queue window), which
// stays disabled while the wizard is open and is enabled again when the
// wizard goes.
//
// The frame keeps the button row in step with the pages: Next reads
// "Finish" (bold) on the configuration page and "Next >" elsewhere, and
// Preview is hidden whenever another page is selected (the configuration
// page shows it).
class TKVNNewForm : public QWidget, public WizardFrame {
  Q_OBJECT
 public:
  // The host's job list lends pending analyses, and the finished job is
  // added to it. A DVD folder given is the source as if it had been typed.
  explicit TKVNNewForm(std::shared_ptr<WizardHost> host, const std::string& dvd_source = {});
  ~TKVNNewForm() override;

  // WizardFrame.
  WizardState& State() override { return state_; }
  WizardHost& Host() override { return *host_; }
  QWidget* Window() override { return this; }
  void SetHeader(int icon, const QString& title, const QString& comment) override;
  void SetHeaderComment(const QString& comment) override;
  void SelectNotebookPage(WizardPageIndex page) override;
  QPushButton* NextButton() override { return NextButton_; }
  QPushButton* BackButton() override { return BackButton_; }
  QPushButton* PreviewButton() override { return PreviewButton_; }
  queue::JobStore::AddResult AddJobFromFolder(const std::string& folder) override;
  void Release() override;

  // The page the user is on (the one entered last).
  WizardPageIndex CurrentPage() const { return current_; }
  WizardPage* Page(WizardPageIndex index) const { return pages_[index]; }

 public slots:
  void NextButtonClick() override;
  void BackButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildHeader();
  void BuildButtonRow();
  void BuildPages();
  // Sizes the window to the notebook and places the header, notebook and
  // button row.
  void PlaceControls();
  // Puts `widget` into the notebook as page `index` named `name`; a page
  // that does not exist yet is shown empty.
  void AddPage(WizardPageIndex index, const char* name, QWidget* widget, WizardPage* page);
  void EnterPage(WizardPageIndex index);
  void FormShow();
  void FormClose(QCloseEvent* event);
  // The queue window again: enabled, or closed when the application is
  // being closed.
  void ReturnToOwner(bool close_owner);

  // Controls; the names are those of the window's design.
  QWidget* Header;
  QLabel* HeaderBack;
  QLabel* HeaderIcon;
  QLabel* HeaderTitle;
  QLabel* HeaderComment;
  QLabel* RealLogo;
  QVector<QIcon> HeaderIconList;
  QStackedWidget* Notebook;
  QFrame* LineBevel;
  QPushButton* PreviewButton_;
  QPushButton* BackButton_;
  QPushButton* NextButton_;
  QPushButton* CancelButton;

  WizardState state_;
  std::shared_ptr<WizardHost> host_;
  QPointer<QWidget> owner_;
  std::array<WizardPage*, 4> pages_{};
  SourcePage* source_page_ = nullptr;
  AnalysisPage* analysis_page_ = nullptr;
  WizardPageIndex current_ = kSourcePage;
  bool shown_before_ = false;
  bool released_ = false;
};

}  // namespace wizard
