#pragma once

#include <array>
#include <string>

#include "platform/registry_store.h"

namespace app {

// The frameserver is registered in the system only while the program runs:
// its two libraries are copied into the system folder and its keys written,
// with backups of whatever stood there, and a "tempinst" marker written last
// so that the next start repairs the system after a crash.
class FrameserverInstallation {
 public:
  // `system_folder` is the platform's system folder ("" when unknown).
  FrameserverInstallation(platform::RegistryStore& store, std::string system_folder);

  // Undoes an earlier temporary installation, then installs from the
  // program folder (trailing separators allowed). False leaves the system as
  // it was before the call.
  bool InstallFrameserver(const std::string& program_folder);

  // Undoes a temporary installation if the marker is present; true when
  // there was nothing to do or everything was undone.
  bool UninstallFrameserver();

  // Undoes the chosen steps (files 1-2, keys 3-6) in step order; true when
  // every chosen step was undone. A failing step does not stop the others.
  using StepFlags = std::array<bool, 6>;
  bool RestoreFrameserverSteps(const StepFlags& steps);

 private:
  std::string FileTarget(int step) const;
  bool InstallFile(int step, const std::string& source);
  bool InstallKey(int step);
  bool WriteKeyValues(int step);
  void Undo(int up_to_step);

  platform::RegistryStore& store_;
  std::string system_folder_;
};

}  // namespace app
