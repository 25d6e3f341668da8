#pragma once

#include <string>

#include "app/shell_values.h"
#include "platform/registry_store.h"

namespace app {

// The single-instance name: a lock held while an instance runs.
inline constexpr const char* kSingleInstanceName = "KestrevaneAuxEvent";

// Where this run of the program finds its files. The program takes them from
// the platform; tests point them at folders of their own.
struct StartupEnvironment {
  std::string program_folder;  // the program file's folder, ending in "/"
  std::string system_folder;   // where the frameserver is installed for the run
  std::string registry_path;   // the registry store file

  static StartupEnvironment OfThisProcess();
};

// Sets the process-wide values (the folders, the encoder), opens
// RegistryAccess, repairs the job list and installs the frameserver for the
// run. False once a message has been shown.
bool RunStartupChecks(const StartupEnvironment& environment, ShellValues& values);

// The note shown once when a damaged registry store was replaced, naming
// the store and the file the damaged one is kept in.
std::string DamagedStoreNote(const std::string& path,
                             const platform::RegistryStore::Recovery& recovery);

// After the message loop: undoes a temporary frameserver installation and
// releases RegistryAccess. Safe whichever check failed.
void RunExitCleanup(const StartupEnvironment& environment, ShellValues& values);

}  // namespace app
