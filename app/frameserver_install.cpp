#include "app/frameserver_install.h"

#include "platform/file_system.h"

namespace app {

namespace {

using platform::RegistryRoot;

constexpr const char* kFrameserverClass = "{E6D6B700-124D-11D4-86F3-DB80AFD98778}";
constexpr const char* kSourceFilterClass = "{D3588AB0-0781-11CE-B03A-0020AF0BA770}";
constexpr const char* kFrameserverKey = "SOFTWARE\\AviSynth";
constexpr const char* kMarkerValue = "tempinst";

struct KeyStep {
  RegistryRoot root;
  std::string key;
};

// Steps 3 to 6: the keys the frameserver's registration consists of.
KeyStep KeyOfStep(int step) {
  switch (step) {
    case 3:
      return {RegistryRoot::ClassesRoot, std::string("CLSID\\") + kFrameserverClass};
    case 4:
      return {RegistryRoot::ClassesRoot, "avifile\\Extensions\\avs"};
    case 5:
      return {RegistryRoot::ClassesRoot, "Media Type\\Extensions\\.avs"};
    default:
      return {RegistryRoot::LocalMachine, kFrameserverKey};
  }
}

}  // namespace

FrameserverInstallation::FrameserverInstallation(platform::RegistryStore& store,
                                                 std::string system_folder)
    : store_(store),
      system_folder_(platform::WithoutTrailingSeparators(std::move(system_folder))) {}

std::string FrameserverInstallation::FileTarget(int step) const {
  return system_folder_ + (step == 1 ? "/avisynth.dll" : "/devil.dll");
}

bool FrameserverInstallation::UninstallFrameserver() {
  if (!store_.KeyExists(RegistryRoot::LocalMachine, kFrameserverKey)) return true;
  if (store_.ValueType(RegistryRoot::LocalMachine, kFrameserverKey, kMarkerValue) ==
      platform::RegistryValueType::None)
    return true;
  return RestoreFrameserverSteps({true, true, true, true, true, true});
}

bool FrameserverInstallation::RestoreFrameserverSteps(const StepFlags& steps) {
  if (system_folder_.empty()) return false;
  bool result = true;
  for (int step = 1; step <= 6; ++step) {
    if (!steps[step - 1]) continue;
    if (step <= 2) {
      const std::string target = FileTarget(step);
      const std::string backup = target + ".bak";
      if (platform::FileExists(target) &&
          (!platform::ClearFileAttributes(target) || !platform::DeleteFile(target))) {
        result = false;
        continue;
      }
      if (platform::FileExists(backup) && !platform::RenameFile(backup, target)) result = false;
    } else {
      const KeyStep k = KeyOfStep(step);
      const std::string backup = k.key + "-bak";
      if (store_.KeyExists(k.root, k.key) && !store_.DeleteKey(k.root, k.key)) {
        result = false;
        continue;
      }
      if (store_.KeyExists(k.root, backup) && !store_.MoveKey(k.root, backup, k.key))
        result = false;
    }
  }
  return result;
}

void FrameserverInstallation::Undo(int up_to_step) {
  StepFlags steps{};
  for (int step = 1; step <= up_to_step && step <= 6; ++step) steps[step - 1] = true;
  RestoreFrameserverSteps(steps);
}

// Moves an existing target out of the way: to its backup name, or, when an
// older backup exists already, away altogether (the older backup is kept).
bool FrameserverInstallation::InstallFile(int step, const std::string& source) {
  const std::string target = FileTarget(step);
  const std::string backup = target + ".bak";
  if (platform::FileExists(target)) {
    const bool cleared = platform::FileExists(backup)
                             ? platform::ClearFileAttributes(target) && platform::DeleteFile(target)
                             : platform::RenameFile(target, backup);
    if (!cleared) {
      Undo(step - 1);
      return false;
    }
  }
  if (!platform::CopyFileNoOverwrite(source, target)) {
    Undo(step);
    return false;
  }
  return true;
}

bool FrameserverInstallation::WriteKeyValues(int step) {
  const KeyStep k = KeyOfStep(step);
  switch (step) {
    case 3: {
      const std::string server = k.key + "\\InProcServer32";
      return store_.WriteString(k.root, k.key, "", "AviSynth") &&
             store_.CreateKey(k.root, server) &&
             store_.WriteString(k.root, server, "", "AviSynth.dll") &&
             store_.WriteString(k.root, server, "ThreadingModel", "Apartment");
    }
    case 4:
      return store_.WriteString(k.root, k.key, "", kFrameserverClass);
    case 5:
      return store_.WriteString(k.root, k.key, "", "") &&
             store_.WriteString(k.root, k.key, "Source Filter", kSourceFilterClass);
    default:
      return true;  // step 6 is written by InstallFrameserver, marker last
  }
}

bool FrameserverInstallation::InstallKey(int step) {
  const KeyStep k = KeyOfStep(step);
  const std::string backup = k.key + "-bak";
  if (store_.KeyExists(k.root, k.key)) {
    const bool cleared = store_.KeyExists(k.root, backup) ? store_.DeleteKey(k.root, k.key)
                                                          : store_.MoveKey(k.root, k.key, backup);
    if (!cleared) {
      Undo(step - 1);
      return false;
    }
  }
  if (!store_.CreateKey(k.root, k.key) || !WriteKeyValues(step)) {
    Undo(step);
    return false;
  }
  return true;
}

bool FrameserverInstallation::InstallFrameserver(const std::string& program_folder) {
  if (!UninstallFrameserver()) return false;
  const std::string folder = platform::WithoutTrailingSeparators(program_folder);
  const std::string avisynth = folder + "/avisynth.dll";
  const std::string devil = folder + "/devil.dll";
  if (!platform::FileExists(avisynth) || !platform::FileExists(devil) || system_folder_.empty())
    return false;

  if (!InstallFile(1, avisynth) || !InstallFile(2, devil)) return false;
  for (int step = 3; step <= 6; ++step)
    if (!InstallKey(step)) return false;

  const KeyStep k = KeyOfStep(6);
  if (!store_.WriteString(k.root, k.key, "plugindir2_5", folder) ||
      !store_.WriteString(k.root, k.key, kMarkerValue, "Temporary Installation")) {
    Undo(6);
    return false;
  }
  return true;
}

}  // namespace app
