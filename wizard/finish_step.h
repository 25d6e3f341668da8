#pragma once

namespace wizard {

class WizardFrame;

// Finish on the configuration page: the job is written and put into the
// queue while the hourglass shows, a failure or refusal is reported, and the
// wizard is released in every case (the queue window is enabled again).
void FinishWizard(WizardFrame& frame);

}  // namespace wizard
