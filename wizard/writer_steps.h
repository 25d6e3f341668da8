#pragma once

#include <string>

#include "wizard/wizard_state.h"

namespace wizard {

class WizardFrame;

// The configuration page's two uses of the job writer, with the plug-ins of
// the program folder.

// Preview: writes "preview.avs" for the current settings (with the plug-ins
// it loads from `program_folder`). False when it cannot be written.
bool WritePreviewScript(WizardState& state, const std::string& program_folder);

// Finish: the job is written and put into the queue while the hourglass
// shows, a failure or refusal is reported, and the wizard is released in
// every case (the queue window is enabled again).
void FinishWizard(WizardFrame& frame);

}  // namespace wizard
