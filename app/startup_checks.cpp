#include "app/startup_checks.h"

#include "app/frameserver_install.h"
#include "platform/folders.h"
#include "platform/message_box.h"
#include "queue/job_store.h"

namespace app {

StartupEnvironment StartupEnvironment::OfThisProcess() {
  return {platform::ProgramFolder(), platform::SystemFolder(),
          platform::RegistryStore::DefaultPath()};
}

namespace {

// Opens the store (a damaged one is recovered into a fresh one) and repairs
// the job list; false with the reason the user is given.
bool InitializeRegistry(const StartupEnvironment& environment, ShellValues& shell,
                        std::string* failure) {
  platform::RegistryStore::Recovery recovery;
  std::string error;
  shell.RegistryStore =
      platform::RegistryStore::OpenOrRecover(environment.registry_path, &recovery, &error);
  if (!shell.RegistryStore) {
    *failure = error;
    return false;
  }
  if (!recovery.damaged_path.empty()) {
    // Told once: the next start finds the fresh store.
    platform::ShowMessage(nullptr, DamagedStoreNote(environment.registry_path, recovery),
                          platform::MessageIcon::Warning);
  }
  shell.RegistryAccess = std::make_unique<platform::RegistryAccess>(
      *shell.RegistryStore, platform::RegistryRoot::LocalMachine);
  queue::JobStore jobs(*shell.RegistryAccess);
  if (jobs.InitJobRegistry()) return true;
  *failure = "the job list in \"" + environment.registry_path + "\" cannot be created or repaired";
  return false;
}

}  // namespace

std::string DamagedStoreNote(const std::string& path,
                             const platform::RegistryStore::Recovery& recovery) {
  return "The registry store \"" + path + "\" was damaged (" + recovery.cause +
         ").\nKestrevane continues with a fresh store that holds what could still be read (" +
         std::to_string(recovery.keys_recovered) + " keys, " +
         std::to_string(recovery.values_recovered) + " values).\nThe damaged file is kept as \"" +
         recovery.damaged_path + "\".";
}

bool RunStartupChecks(const StartupEnvironment& environment, ShellValues& shell) {
  shell.ProgramFolder = environment.program_folder;
  // Nothing checks for the encoder here: a missing one shows when a volume
  // is started.
  shell.EncoderPath = shell.ProgramFolder + "helix/producer";

  std::string failure;
  if (!InitializeRegistry(environment, shell, &failure)) {
    platform::ShowMessage(nullptr, "Unable to initialize registry entries.\n\n" + failure,
                          platform::MessageIcon::Error);
    return false;
  }
  FrameserverInstallation frameserver(*shell.RegistryStore, environment.system_folder);
  if (!frameserver.InstallFrameserver(environment.program_folder)) {
    platform::ShowMessage(nullptr, "Unable to initialize frameserver. Try to reinstall Kestrevane.",
                          platform::MessageIcon::Error);
    return false;
  }
  return true;
}

void RunExitCleanup(const StartupEnvironment& environment, ShellValues& shell) {
  if (shell.RegistryStore) {
    // Only a temporary installation (marked by "tempinst") is undone.
    FrameserverInstallation(*shell.RegistryStore, environment.system_folder).UninstallFrameserver();
  }
  shell.RegistryAccess.reset();
  shell.RegistryStore.reset();
}

}  // namespace app
