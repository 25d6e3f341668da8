#include "app/startup_checks.h"

#include "app/frameserver_install.h"
#include "app/shell_state.h"
#include "platform/folders.h"
#include "platform/message_box.h"
#include "queue/job_store.h"

namespace app {

StartupEnvironment StartupEnvironment::OfThisProcess() {
  return {platform::ProgramFolder(), platform::SystemFolder(),
          platform::RegistryStore::DefaultPath()};
}

namespace {

bool InitializeRegistry(const StartupEnvironment& environment) {
  ShellState& shell = Shell();
  shell.RegistryStore = platform::RegistryStore::Open(environment.registry_path);
  if (!shell.RegistryStore) return false;
  shell.RegistryAccess = std::make_unique<platform::RegistryAccess>(
      *shell.RegistryStore, platform::RegistryRoot::LocalMachine);
  queue::JobStore jobs(*shell.RegistryAccess);
  return jobs.InitJobRegistry();
}

}  // namespace

bool RunStartupChecks(const StartupEnvironment& environment) {
  ShellState& shell = Shell();
  if (shell.MainWindow) shell.ApplicationTitle = shell.MainWindow->windowTitle().toStdString();
  shell.ProgramFolder = environment.program_folder;
  // Nothing checks for the encoder here: a missing one shows when a volume
  // is started.
  shell.EncoderPath = shell.ProgramFolder + "helix/producer";

  if (!InitializeRegistry(environment)) {
    platform::ShowMessage(nullptr, "Unable to initialize registry entries.",
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

void RunExitCleanup(const StartupEnvironment& environment) {
  ShellState& shell = Shell();
  if (shell.RegistryStore) {
    // Only a temporary installation (marked by "tempinst") is undone.
    FrameserverInstallation(*shell.RegistryStore, environment.system_folder).UninstallFrameserver();
  }
  shell.RegistryAccess.reset();
  shell.RegistryStore.reset();
}

}  // namespace app
