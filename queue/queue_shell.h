#pragma once

#include <string>

#include "platform/registry_access.h"

class QWidget;

namespace queue {

// What the queue window needs of the application around it: the process-wide
// values of the start-up, the application's own title, the About window and
// the end of the program. The program gives its shell; tests may give their
// own.
class QueueShell {
 public:
  virtual ~QueueShell() = default;

  // Where the job list is kept.
  virtual platform::RegistryAccess& Registry() = 0;
  // The program's folder, ending in "/" ("Readme.txt", "License.txt").
  virtual std::string ProgramFolder() const = 0;
  // The encoder program.
  virtual std::string EncoderPath() const = 0;

  // The application title as the start-up found it, and the title the
  // application shows now (its task-bar entry).
  virtual std::string ApplicationTitle() const = 0;
  virtual void SetApplicationTitle(const std::string& title) = 0;

  // Makes `window` a working window of the application (position and size
  // followed, minimising the whole application, close requests routed).
  virtual void AttachWorkingWindow(QWidget* window) = 0;
  // Shows the About window; `owner` is disabled until it is clicked away.
  virtual void ShowAbout(QWidget* owner) = 0;
  // The application is being closed through the queue window (or not).
  virtual void SetClosingInProgress(bool closing) = 0;
  // Asks the message loop to end.
  virtual void EndApplication() = 0;
};

}  // namespace queue
