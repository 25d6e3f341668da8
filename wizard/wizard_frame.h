#pragma once

#include <QString>
#include <string>

#include "queue/job_store.h"

class QPushButton;
class QWidget;

namespace wizard {

struct WizardState;
class WizardHost;

// Wizard page indexes in the notebook.
enum WizardPageIndex { kSourcePage = 0, kAnalysisPage = 1, kTitlePage = 2, kConfigPage = 3 };

// What a page of the new-job wizard may ask of the frame around it (the
// header, the button row, the notebook and the shared state). The frame,
// TKVNNewForm, implements it; tests of a single page may give a small frame
// of their own.
class WizardFrame {
 public:
  virtual ~WizardFrame() = default;

  virtual WizardState& State() = 0;
  // The application around the wizard.
  virtual WizardHost& Host() = 0;
  // The window that owns message boxes and dialogs of the pages.
  virtual QWidget* Window() = 0;

  virtual void SetHeader(int icon, const QString& title, const QString& comment) = 0;
  virtual void SetHeaderComment(const QString& comment) = 0;
  virtual void SelectNotebookPage(WizardPageIndex page) = 0;

  virtual QPushButton* NextButton() = 0;
  virtual QPushButton* BackButton() = 0;
  virtual QPushButton* PreviewButton() = 0;
  // Runs the Next button's command as a click does.
  virtual void NextButtonClick() = 0;

  // Appends the finished job in `folder` to the queue, as the queue window's
  // AddJobFromFolder does (list, commands and shutdown controls).
  virtual queue::JobStore::AddResult AddJobFromFolder(const std::string& folder) = 0;

  // Ends the wizard without the close question: the queue window is enabled
  // again and the window released (a failed analysis, Finish).
  virtual void Release() = 0;
};

// One page of the notebook. The frame calls these from its Next and Back
// commands and when the wizard closes.
class WizardPage {
 public:
  virtual ~WizardPage() = default;

  // Entering the page (from either direction).
  virtual void Enter() = 0;
  // Whether the page may be left forwards (Next) or backwards (Back); may ask
  // questions and start work that calls back later.
  virtual bool Leave(bool forward) = 0;
  // The wizard is closing after the user confirmed it: let go of what the
  // page holds (open decoder titles, running workers).
  virtual void WizardClosing() {}
};

}  // namespace wizard
