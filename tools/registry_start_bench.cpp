// The registry work of a start of the program, with the store keeping its
// statements prepared against the same store preparing each for its one use.
//
//   registry_start_bench <work-folder> [jobs] [rounds]
//
// Writes a store with <jobs> entries in the job list (default 200; their
// folders do not exist, so each loads as a broken job), then runs rounds
// (default 5) of two turns in alternating order. A turn opens the store, and
// repairs and loads the job list as a start does, 10 times; it prints each
// turn's processor and wall time and, at the end, the ratio of the sums.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/registry_access.h"
#include "platform/registry_store.h"
#include "platform/registry_store_sqlite.h"
#include "queue/job_store.h"

namespace {

using platform::RegistryRoot;
using platform::RegistryStore;

constexpr int kStartsPerTurn = 10;

double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

bool WriteJobs(const std::string& path, int jobs) {
  auto store = RegistryStore::Open(path);
  if (!store) return false;
  const RegistryRoot lm = RegistryRoot::LocalMachine;
  return store->Atomically([&] {
    for (int n = 0; n < jobs; ++n) {
      const std::string key = std::string(queue::kJobsKey) + "\\" + std::to_string(n);
      const std::string name = "Job " + std::to_string(n);
      if (!store->CreateKey(lm, key) ||
          !store->WriteString(lm, key, "Path", "/nonexistent/Jobs/" + name) ||
          !store->WriteString(lm, key, "Name", name) ||
          !store->WriteString(lm, key, "Date", "2026-12-10 07:30") ||
          !store->WriteDWord(lm, key, "Done", 0))
        return false;
    }
    return store->WriteDWord(lm, queue::kJobsKey, "Count", static_cast<uint32_t>(jobs));
  });
}

// One start's registry work; the number of jobs it loaded, -1 on a failure.
int Start(const std::string& path, bool keep_statements) {
  std::string error;
  platform::OpenFailure failure;
  sqlite3* db = platform::OpenSqliteStore(path, &error, &failure);
  if (!db) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return -1;
  }
  auto store = platform::StoreOnSqlite(db, keep_statements);
  platform::RegistryAccess access(*store, RegistryRoot::LocalMachine);
  queue::JobStore jobs(access);
  if (!jobs.InitJobRegistry() || !jobs.LoadJobList()) return -1;
  return static_cast<int>(jobs.Jobs().size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: registry_start_bench <work-folder> [jobs] [rounds]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int jobs = argc > 2 ? std::atoi(argv[2]) : 200;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  mkdir(folder.c_str(), 0700);
  const std::string path = folder + "/registry-start-bench.db";
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  if (jobs < 1 || rounds < 1 || !WriteJobs(path, jobs)) {
    std::fprintf(stderr, "registry_start_bench: cannot write the store %s\n", path.c_str());
    return 1;
  }

  const char* const kNames[] = {"prepared per use", "kept prepared"};
  double cpu[2] = {0, 0}, wall[2] = {0, 0};
  std::printf("%d jobs, %d starts per turn\n%-6s %-18s %8s %8s\n", jobs, kStartsPerTurn, "round",
              "statements", "cpu s", "wall s");
  for (int round = 0; round < rounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const int kept = (round + turn) % 2;  // the order alternates between rounds
      const double cpu_start = CpuNow(), wall_start = WallNow();
      for (int start = 0; start < kStartsPerTurn; ++start) {
        if (Start(path, kept == 1) != jobs) {
          std::fprintf(stderr, "registry_start_bench: a start did not load the %d jobs\n", jobs);
          return 1;
        }
      }
      const double c = CpuNow() - cpu_start, w = WallNow() - wall_start;
      cpu[kept] += c;
      wall[kept] += w;
      std::printf("%-6d %-18s %8.3f %8.3f\n", round + 1, kNames[kept], c, w);
    }
  }
  for (int kept = 0; kept < 2; ++kept)
    std::printf("%-25s %8.3f %8.3f  (%.1f ms processor time per start)\n", kNames[kept], cpu[kept],
                wall[kept], 1000 * cpu[kept] / (rounds * kStartsPerTurn));
  std::printf("kept prepared / prepared per use: %.2f processor, %.2f wall\n", cpu[1] / cpu[0],
              wall[1] / wall[0]);
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  return 0;
}
