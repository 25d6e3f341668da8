#include "wizard/finish_step.h"

#include <QApplication>

#include "platform/folders.h"
#include "platform/message_box.h"
#include "wizard/job_writer.h"
#include "wizard/wizard_frame.h"

namespace wizard {

void FinishWizard(WizardFrame& frame) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const FinishResult result =
      FinishJob(frame.State(), platform::ProgramFolder(), JobDateText(),
                [&frame](const std::string& folder) { return frame.AddJobFromFolder(folder); });
  QApplication::restoreOverrideCursor();
  if (!result.message.empty()) platform::ShowMessage(frame.Window(), result.message, result.icon);
  frame.Release();
}

}  // namespace wizard
