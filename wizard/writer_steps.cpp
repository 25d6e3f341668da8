#include "wizard/writer_steps.h"

#include <QApplication>

#include "app/shell_state.h"
#include "platform/folders.h"
#include "platform/message_box.h"
#include "wizard/job_writer.h"
#include "wizard/wizard_frame.h"

namespace wizard {

namespace {

// The folder of the program file, as the start-up checks recorded it.
std::string ProgramFolder() {
  const std::string& folder = app::Shell().ProgramFolder;
  return folder.empty() ? platform::ProgramFolder() : folder;
}

}  // namespace

bool WritePreviewScript(WizardState& state) {
  return JobWriter(state, ProgramFolder()).WriteScripts(true);
}

void FinishWizard(WizardFrame& frame) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const FinishResult result =
      FinishJob(frame.State(), ProgramFolder(), JobDateText(),
                [&frame](const std::string& folder) { return frame.AddJobFromFolder(folder); });
  QApplication::restoreOverrideCursor();
  if (!result.message.empty()) platform::ShowMessage(frame.Window(), result.message, result.icon);
  frame.Release();
}

}  // namespace wizard
