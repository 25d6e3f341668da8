// libFuzzer target over a job folder the user hands the queue (dropped on
// the window, or picked with Add Job): the drop is read, the job is added
// to a job store, the store is loaded again as at the next start, and what
// the queue window and the runner read of a listed job is read: its
// details, its frame count for the time estimate and each volume's encoder
// job file.
//
// Input: a choice byte, then NUL-separated files of the job's data folder:
// the JobFile, "out01.avs", the video index it names (or
// "vts01_pgc01_a0.qmvi"), then "out01.rpjf", "out02.rpjf" and so on.
// Choice bit 0: the drop has a trailing "/"; bit 1: the job is added a
// second time; bit 2: no JobFile at all.
//
// An added job must load again as the same row; nothing outside the job's
// folder and the registry store may change.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/registry_store.h"
#include "queue/dropped_folder.h"
#include "queue/encoder_job_info.h"
#include "queue/encoder_output.h"
#include "queue/job_details.h"
#include "queue/job_file.h"
#include "queue/job_frames.h"
#include "queue/job_store.h"
#include "tests/support/fuzz_scratch.h"

namespace {

struct Fixture {
  std::string jobs, job, outside;
  std::unique_ptr<platform::RegistryStore> store;
};

Fixture& TheFixture() {
  static Fixture& f = *new Fixture([] {
    Fixture f;
    const std::string& scratch = kv_test::FuzzScratchFolder("job-folder-fuzz");
    f.jobs = scratch + "/jobs";
    f.job = f.jobs + "/Job";
    f.outside = scratch + "/outside";
    platform::CreateDirectory(f.jobs);
    platform::CreateDirectory(f.outside);
    kv_test::PutFuzzFile(f.outside + "/secret", "secret");
    f.store = platform::RegistryStore::Open(scratch + "/registry.db");
    if (!f.store) std::abort();
    return f;
  }());
  return f;
}

std::vector<std::string> Parts(const std::string& text) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t end = text.find('\0', start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// The bare name of the index the first volume's script decodes, when the
// file system can hold a file of that name.
std::string IndexNamedBy(const std::string& script) {
  const std::string call = "qmVideoSource(\"";
  const size_t at = script.find(call);
  const size_t end = at == std::string::npos ? at : script.find('"', at + call.size());
  std::string name =
      end == std::string::npos ? "" : script.substr(at + call.size(), end - at - call.size());
  if (name.empty() || name.size() > NAME_MAX || name == "." || name == ".." ||
      name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
    name = "vts01_pgc01_a0.qmvi";
  return name;
}

void WriteJobFolder(const Fixture& f, uint8_t choice, const std::vector<std::string>& parts) {
  const std::string data = queue::JobDataFolderOf(f.job);
  platform::CreateDirectory(f.job);
  platform::CreateDirectory(data);
  if (!(choice & 4)) kv_test::PutFuzzFile(queue::JobFilePathOf(f.job), parts[0]);
  if (parts.size() > 1) kv_test::PutFuzzFile(data + "out01.avs", parts[1]);
  if (parts.size() > 2) kv_test::PutFuzzFile(data + IndexNamedBy(parts[1]), parts[2]);
  for (size_t k = 3; k < parts.size() && k < 3 + 99; ++k)
    kv_test::PutFuzzFile(data + queue::EncoderJobFileName(static_cast<int>(k - 2)), parts[k]);
}

// What the queue window and the runner read of a listed row.
void ReadRow(const queue::JobEntry& row) {
  const queue::JobDetails details = queue::DetailsOf(row);
  if (details.volume_bar < 0 || details.volume_bar > 100 || details.total_bar < 0 ||
      details.total_bar > 100)
    __builtin_trap();
  if (const auto frames = queue::JobFrameCount(row.Path); frames && *frames <= 0) __builtin_trap();
  if (!row.Progress) return;
  for (int k = 1; k <= row.Progress->total; ++k) {
    const auto info =
        queue::ReadEncoderJobInfo(queue::JobDataFolderOf(row.Path) + queue::EncoderJobFileName(k));
    if (!info) continue;
    // A complexity is read as written, a negative one too; what it decides
    // is the share of each pass in the volume's bar, which stays in 0..100.
    const queue::PassWeights weights = queue::WeightsOf(*info);
    for (const int figure : {0, 50, 100}) {
      const double encoding = queue::EncodingVolumePercent(figure, weights, info->two_pass);
      const double analysis = queue::AnalysisVolumePercent(figure, weights);
      if (!(encoding >= 0 && encoding <= 100 && analysis >= 0 && analysis <= 100)) __builtin_trap();
    }
  }
}

bool SameRow(const queue::JobEntry& a, const queue::JobEntry& b) {
  return a.Name == b.Name && a.Date == b.Date && a.Progress == b.Progress && a.Time == b.Time &&
         a.Left == b.Left && a.Path == b.Path && a.State == b.State;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Fixture& f = TheFixture();
  const uint8_t choice = data[0];
  kv_test::ClearFuzzFolder(f.jobs);
  platform::RegistryAccess registry(*f.store, platform::RegistryRoot::LocalMachine);
  queue::DeleteRegistryTree(registry, std::string("\\") + queue::kJobsKey);
  WriteJobFolder(f, choice, Parts(std::string(reinterpret_cast<const char*>(data) + 1, size - 1)));

  const queue::DroppedFolder drop = queue::ReadDrop({f.job + ((choice & 1) ? "/" : "")});
  const bool has_job_file = platform::FileExists(queue::JobFilePathOf(f.job));
  if ((drop.meaning == queue::DropMeaning::AddJob) != has_job_file || drop.folder != f.job)
    __builtin_trap();
  if (drop.meaning != queue::DropMeaning::AddJob) return 0;

  queue::JobStore store(registry);
  if (!store.InitJobRegistry() || !store.LoadJobList()) std::abort();
  const queue::JobStore::AddResult added = store.AddJobFromFolder(drop.folder);
  if (added.valid != (store.Jobs().size() == 1) || added.already_listed) __builtin_trap();
  if (!added.valid) return 0;
  const queue::JobEntry row = store.Jobs().front();
  if (!row.Progress || row.Progress->total <= 0 || row.Progress->done < 0 ||
      row.Progress->done > row.Progress->total ||
      row.State !=
          (row.Progress->Remaining() == 0 ? queue::JobState::Done : queue::JobState::Pending))
    __builtin_trap();
  ReadRow(row);
  if ((choice & 2) && !store.AddJobFromFolder(drop.folder).already_listed) __builtin_trap();

  // The next start of the program finds the same row.
  queue::JobStore again(registry);
  if (!again.InitJobRegistry() || !again.LoadJobList()) std::abort();
  if (again.Jobs().size() != 1 || !SameRow(again.Jobs().front(), row)) __builtin_trap();
  ReadRow(again.Jobs().front());

  if (kv_test::FuzzFolderEntries(f.jobs) != std::vector<std::string>{"Job"} ||
      kv_test::FuzzFolderEntries(f.outside) != std::vector<std::string>{"secret"})
    __builtin_trap();
  return 0;
}
