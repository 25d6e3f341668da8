#include "wizard/wizard_host.h"

#include "platform/folders.h"

namespace wizard {

std::string ProgramFolderOf(const WizardHost& host) {
  const std::string folder = host.ProgramFolder();
  return folder.empty() ? platform::ProgramFolder() : folder;
}

}  // namespace wizard
