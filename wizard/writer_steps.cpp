#include "wizard/writer_steps.h"

#include <QApplication>

#include "platform/message_box.h"
#include "wizard/job_writer.h"
#include "wizard/wizard_frame.h"
#include "wizard/wizard_host.h"

namespace wizard {

bool WritePreviewScript(WizardState& state, const std::string& program_folder) {
  return JobWriter(state, program_folder).WriteScripts(true);
}

void FinishWizard(WizardFrame& frame) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const FinishResult result =
      FinishJob(frame.State(), ProgramFolderOf(frame.Host()), JobDateText(),
                [&frame](const std::string& folder) { return frame.AddJobFromFolder(folder); });
  QApplication::restoreOverrideCursor();
  if (!result.message.empty()) platform::ShowMessage(frame.Window(), result.message, result.icon);
  frame.Release();
}

}  // namespace wizard
