// registry_store_fuzz_seeds <corpus>: registry store files as the program
// writes them, as starting inputs for the store's opening and recovery: a
// job list with valid entries, entries the start-up repairs (a value
// missing, a name taken twice, a subkey) and the frameserver's keys left
// by a run that did not end; the
// same store with 512-byte pages (fewer bytes for the fuzzer to mutate),
// and damaged copies of both (cut short, a page zeroed, a header byte
// changed).
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/frameserver_install.h"
#include "platform/file_system.h"
#include "platform/registry_store.h"
#include "queue/job_store.h"

namespace {

using platform::RegistryRoot;
using platform::RegistryStore;

constexpr RegistryRoot kLM = RegistryRoot::LocalMachine;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

bool Entry(RegistryStore& store, const std::string& name, const std::vector<std::string>& skip,
           uint32_t done) {
  const std::string key = std::string(queue::kJobsKey) + "\\" + name;
  auto wanted = [&](const char* value) {
    for (const std::string& s : skip)
      if (s == value) return false;
    return true;
  };
  bool ok = store.CreateKey(kLM, key);
  if (wanted("Path")) ok = ok && store.WriteString(kLM, key, "Path", "/home/user/Jobs/Job " + name);
  if (wanted("Name")) ok = ok && store.WriteString(kLM, key, "Name", "Job " + name);
  if (wanted("Date")) ok = ok && store.WriteString(kLM, key, "Date", "2026-12-10 07:30");
  if (wanted("Done")) ok = ok && store.WriteDWord(kLM, key, "Done", done);
  if (wanted(queue::kFailureValue))
    ok = ok && store.WriteString(kLM, key, queue::kFailureValue, "Encoding failed!");
  return ok;
}

// The store a crashed run leaves: a job list to repair and the
// frameserver's installation with its marker, written by the installer.
bool MakeStore(const std::string& path, const std::string& folder) {
  auto store = RegistryStore::Open(path);
  if (!store) return false;
  const std::string program = folder + "/program", system = folder + "/system";
  platform::CreateDirectory(folder);
  bool ok = platform::CreateDirectory(program) && platform::CreateDirectory(system) &&
            Write(program + "/avisynth.dll", "frameserver") &&
            Write(program + "/devil.dll", "image library") &&
            app::FrameserverInstallation(*store, system).InstallFrameserver(program);
  for (const std::string& file : {program + "/avisynth.dll", program + "/devil.dll",
                                  system + "/avisynth.dll", system + "/devil.dll"})
    std::remove(file.c_str());
  std::remove(program.c_str());
  std::remove(system.c_str());
  std::remove(folder.c_str());
  return ok && Entry(*store, "0", {}, 0) && Entry(*store, "1", {queue::kFailureValue}, 1) &&
         Entry(*store, "01", {queue::kFailureValue}, 0) && Entry(*store, "7", {"Done"}, 0) &&
         Entry(*store, "x", {queue::kFailureValue}, 0) &&
         store->CreateKey(kLM, std::string(queue::kJobsKey) + "\\0\\sub") &&
         store->WriteDWord(kLM, queue::kJobsKey, "Count", 9);
}

// The same store with pages of 512 bytes.
bool SmallPages(const std::string& path) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
  for (const char* sql : {"PRAGMA journal_mode = DELETE", "PRAGMA page_size = 512", "VACUUM",
                          "PRAGMA journal_mode = WAL"})
    ok = ok && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  return sqlite3_close(db) == SQLITE_OK && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus>\n", argv[0]);
    return 2;
  }
  const std::string corpus = argv[1];
  const std::string work = corpus + "/.registry-seed.db";
  bool ok = true;
  for (const bool small : {false, true}) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((work + suffix).c_str());
    ok = ok && MakeStore(work, corpus + "/.registry-seed") && (!small || SmallPages(work));
    const std::string store = Read(work);
    const size_t page = small ? 512 : 4096;
    ok = ok && store.size() >= 2 * page;
    if (!ok) break;
    const std::string name = corpus + "/store_" + std::to_string(page);
    std::string zeroed = store;
    zeroed.replace(page, page, page, '\0');
    std::string header = store;
    header[28] = '\x7f';  // the page count
    ok = Write(name, store) && Write(name + "_cut", store.substr(0, store.size() - page / 2)) &&
         Write(name + "_zeroed_page", zeroed) && Write(name + "_page_count", header);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((work + suffix).c_str());
  if (!ok) {
    std::fprintf(stderr, "cannot write the registry seeds into %s\n", corpus.c_str());
    return 1;
  }
  return 0;
}
