#include "tests/app/shell_fixture.h"

namespace kv_test {

ProgramFolders::ProgramFolders() {
  WriteFile(program_ + "avisynth.dll", "the frameserver");
  WriteFile(program_ + "devil.dll", "its image library");
  MakeFolders(system_);
}

app::StartupEnvironment ProgramFolders::Environment() const {
  return {program_, system_, registry_};
}

}  // namespace kv_test
