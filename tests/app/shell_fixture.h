#pragma once

#include <string>

#include "app/startup_checks.h"
#include "tests/support/temp_dir.h"

namespace kv_test {

// A program folder holding the frameserver's two files, an empty system
// folder and a registry store file of its own.
class ProgramFolders {
 public:
  ProgramFolders();

  app::StartupEnvironment Environment() const;
  std::string System(const std::string& name) const { return system_ + "/" + name; }
  const std::string& Program() const { return program_; }
  const std::string& RegistryPath() const { return registry_; }

 private:
  TempDir dir_{"kv-shell"};
  std::string program_ = dir_.File("program") + "/";
  std::string system_ = dir_.File("system");
  std::string registry_ = dir_.File("registry.db");
};

}  // namespace kv_test
