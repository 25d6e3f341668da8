#pragma once

#include <memory>
#include <string>

#include "platform/registry_access.h"
#include "platform/registry_store.h"

namespace app {

// The process-wide values the start-up checks set and the working code reads:
// the program's title and folders and the registry behind the job list. The
// program keeps them in its shell (app::Shell()); the command line in its
// session.
struct ShellValues {
  std::string ApplicationTitle;
  // The folder of the program file, ending in exactly one "/".
  std::string ProgramFolder;
  std::string EncoderPath;
  // The store behind RegistryAccess; both live from the start-up checks to
  // the exit clean-up.
  std::unique_ptr<platform::RegistryStore> RegistryStore;
  std::unique_ptr<platform::RegistryAccess> RegistryAccess;
};

}  // namespace app
