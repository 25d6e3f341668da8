// libFuzzer target over the registry store file as the program's start
// finds it: the bytes are the store, opened with the recovery of a damaged
// one; then the job list is repaired and loaded and the frameserver is
// installed and uninstalled, as at a start and an exit.
//
// A file that is not refused (another program's database, a store of
// another version) must give a working store; a damaged one must be kept
// beside it exactly as it was found; the start's repairs must leave a list
// that the next start loads as it is, and the frameserver's installation
// must come and go without a trace of its marker.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "app/frameserver_install.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/registry_store.h"
#include "queue/job_store.h"
#include "tests/platform/sqlite_fuzz_heap.h"
#include "tests/support/fuzz_scratch.h"

namespace {

using platform::RegistryRoot;
using platform::RegistryStore;

struct Fixture {
  std::string run, store, system, program;
};

const Fixture& TheFixture() {
  static const Fixture& f = *new Fixture([] {
    Fixture f;
    const std::string& scratch = kv_test::FuzzScratchFolder("registry-store-fuzz");
    f.run = scratch + "/run";
    f.store = f.run + "/registry.db";
    f.system = f.run + "/system";
    f.program = scratch + "/program";
    if (!platform::CreateDirectory(f.run) || !platform::CreateDirectory(f.program)) std::abort();
    kv_test::PutFuzzFile(f.program + "/avisynth.dll", "frameserver");
    kv_test::PutFuzzFile(f.program + "/devil.dll", "image library");
    return f;
  }());
  return f;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SameRows(const std::vector<queue::JobEntry>& a, const std::vector<queue::JobEntry>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].Name != b[i].Name || a[i].Date != b[i].Date || a[i].Path != b[i].Path ||
        a[i].State != b[i].State || a[i].Problem != b[i].Problem)
      return false;
  }
  return true;
}

// The job list as a start repairs and loads it.
std::vector<queue::JobEntry> StartJobList(RegistryStore& store) {
  platform::RegistryAccess access(store, RegistryRoot::LocalMachine);
  queue::JobStore jobs(access);
  if (!jobs.InitJobRegistry() || !jobs.LoadJobList()) __builtin_trap();
  const auto count = store.ReadDWord(RegistryRoot::LocalMachine, queue::kJobsKey, "Count");
  if (!count || *count != jobs.Jobs().size()) __builtin_trap();
  return jobs.Jobs();
}

// A start's installation and an exit's uninstallation of the frameserver.
void InstallAndUninstall(RegistryStore& store, const Fixture& f) {
  platform::CreateDirectory(f.system);
  app::FrameserverInstallation frameserver(store, f.system);
  if (!frameserver.InstallFrameserver(f.program) || !frameserver.UninstallFrameserver())
    __builtin_trap();
  if (store.ValueType(RegistryRoot::LocalMachine, "SOFTWARE\\AviSynth", "tempinst") !=
      platform::RegistryValueType::None)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kv_test::UseSqliteFuzzHeap();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Fixture& f = TheFixture();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  kv_test::ClearFuzzFolder(f.run);
  kv_test::PutFuzzFile(f.store, bytes);

  RegistryStore::Recovery recovery;
  std::string error;
  std::unique_ptr<RegistryStore> store = RegistryStore::OpenOrRecover(f.store, &recovery, &error);
  if (!store) {
    // Refused: nothing is moved aside, and another program's file is left as it is.
    if (error.empty() || !recovery.damaged_path.empty()) __builtin_trap();
    if (error.find("a database of something else") != std::string::npos && Read(f.store) != bytes)
      __builtin_trap();
    return 0;
  }
  if (!recovery.damaged_path.empty() && Read(recovery.damaged_path) != bytes) __builtin_trap();

  // A start and an exit; the next start finds the list the first one left.
  const std::vector<queue::JobEntry> rows = StartJobList(*store);
  InstallAndUninstall(*store, f);
  store.reset();
  store = RegistryStore::Open(f.store, &error);
  if (!store || !SameRows(StartJobList(*store), rows)) __builtin_trap();
  return 0;
}
