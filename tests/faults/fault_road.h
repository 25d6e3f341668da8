#pragma once

#include <sys/types.h>

#include <QProcess>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace kv_test {

// kestrevane-cli of the program folder as a child process whose lines are
// read as it prints them.
class CliChild {
 public:
  // `environment` entries ("NAME=value") are added to the test's own.
  explicit CliChild(const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment = {});
  ~CliChild();

  // The next line of standard output; none once the program has ended and
  // every line was read.
  std::optional<std::string> NextLine();
  bool Running() const { return process_.state() != QProcess::NotRunning; }
  void Kill();
  // Waits for the end: the exit status, -1 when it was killed.
  int Wait();
  const std::string& Out() const { return out_; }
  std::string Err();

 private:
  QProcess process_;
  std::string out_;
};

// The status and output of a whole run.
struct CliRun {
  int status = -1;
  std::string out, err;
};
CliRun RunCli(const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment = {});

// A job's row as `kestrevane-cli list --json` shows it.
struct ListedRow {
  bool found = false;
  std::string state;  // "pending", "running", "done", "broken"
  int volumes_done = -1;
  std::string problem;
};
ListedRow ListedRowOf(const std::string& folder);

// The two-volume job of the fault tests: "Road", a 12-second letterboxed
// PAL title in two volumes of at most 1 MB, as the wizard proposes it.
inline constexpr const char* kRoadName = "Road";
inline constexpr int kRoadVolumes = 2;
std::vector<std::string> NewRoadJobArguments(const std::string& dest);
// "<folder>/Road (1of2).rmvb" for volume 1.
std::string RoadVolumePath(const std::string& folder, int volume);
// The volumes of the job encoded without a fault, made once per test
// binary (the encoder makes the same bytes from the same job).
const std::vector<std::string>& ReferenceVolumes();

// The environment entries that preload the fault shim into a program (and
// the programs it starts) with the step KV_FAULT_AT and the fault KV_FAULT
// (see fault_shim.c).
std::vector<std::string> FaultEnvironment(const std::string& step, const std::string& fault);

// The encoder processes whose parent is this process: with this process a
// subreaper, the encoders a killed program left behind.
std::vector<pid_t> OrphanedEncoders();
// The process runs the program folder's encoder.
bool IsEncoder(pid_t pid);
// Kills and collects such a process.
void EndOrphan(pid_t pid);
// The process has ended (and is collected, when it is a child).
bool OrphanEnded(pid_t pid);

}  // namespace kv_test
