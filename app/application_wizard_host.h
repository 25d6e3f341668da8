#pragma once

#include <memory>

#include "wizard/wizard_host.h"

namespace queue {
class TKVNMenuForm;
}

namespace app {

// The application as a wizard opened over `queue_window` (null: none) sees
// it: the shell's process-wide values and windows, and that queue window's
// job list. It reads the shell's values when asked.
std::shared_ptr<wizard::WizardHost> MakeWizardHost(queue::TKVNMenuForm* queue_window);

}  // namespace app
