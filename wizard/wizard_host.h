#pragma once

#include <string>
#include <vector>

#include "queue/job_entry.h"
#include "queue/job_store.h"

class QWidget;

namespace wizard {

// What the new-job wizard needs of the application around it: the program's
// folder, the window it is opened over, the application's title, the close
// of the whole application, and the job list. The program gives its shell
// and queue window; tests may give their own.
class WizardHost {
 public:
  virtual ~WizardHost() = default;

  // The program's folder, ending in "/" (the frameserver's plug-ins, the
  // preview player), as the start-up found it; empty when it did not run.
  virtual std::string ProgramFolder() const = 0;
  // The window the wizard is opened over (the queue window), or null. It is
  // disabled while the wizard is open and enabled again when it goes; it
  // owns the option dialogs, and the wizard goes when it goes.
  virtual QWidget* DialogOwner() const = 0;

  // The application title as the start-up found it, and the title the
  // application shows now (its task-bar entry).
  virtual std::string ApplicationTitle() const = 0;
  virtual void SetApplicationTitle(const std::string& title) = 0;

  // The application is being closed (the wizard is asked to close as part
  // of it), or that close was refused.
  virtual bool ClosingInProgress() const = 0;
  virtual void SetClosingInProgress(bool closing) = 0;

  // The jobs in the queue: a pending job's analysis may be taken over.
  virtual std::vector<queue::JobEntry> Jobs() const = 0;
  // Appends the finished job in `folder` to the queue, as the queue window's
  // Add Job does (list, commands and shutdown controls).
  virtual queue::JobStore::AddResult AddJobFromFolder(const std::string& folder) = 0;
  // Makes the wizard a working window of the application (position and
  // size followed, minimising the whole application, close requests routed).
  virtual void AttachWorkingWindow(QWidget* window) = 0;
};

// The host's program folder, else the running program's own.
std::string ProgramFolderOf(const WizardHost& host);

}  // namespace wizard
