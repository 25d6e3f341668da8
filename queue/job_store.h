#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/registry_access.h"
#include "queue/job_entry.h"

namespace queue {

// Registry key of the job list, below HKEY_LOCAL_MACHINE.
inline constexpr const char* kProductKey = "Software\\Orvalen\\Kestrevane";
inline constexpr const char* kJobsKey = "Software\\Orvalen\\Kestrevane\\Jobs";
// An entry's record of its last failed run, beside its four values; an entry
// without it is as valid as one with it.
inline constexpr const char* kFailureValue = "Failure";

// The persisted queue: the registry entries (one subkey per job, named by its
// index) and the in-memory rows built from them and the jobs' JobFiles.
// Operations report success; the caller shows the message.
class JobStore {
 public:
  explicit JobStore(platform::RegistryAccess& registry) : registry_(registry) {}

  // Creates the keys when absent, drops invalid entries, renumbers the valid
  // ones 0..n-1 in their old order and rewrites "Count" as an integer.
  bool InitJobRegistry();

  // Rebuilds the rows from the registry and the JobFiles.
  bool LoadJobList();

  // Rewrites the registry entries from the rows. False: the list could not be
  // stored ("Error updating configuration!").
  bool SaveJobList();

  struct AddResult {
    bool valid = false;
    bool already_listed = false;
    bool saved = true;  // false: appended, but SaveJobList failed
  };
  // Reads the job in `folder` and appends it when it is a complete, new job.
  AddResult AddJobFromFolder(const std::string& folder);

  // Exchanges two rows (state included) and saves the list.
  bool SwapJobs(size_t i, size_t j);
  // Removes a row and saves the list; nothing on disk is touched.
  bool RemoveJob(size_t index);

  const std::vector<JobEntry>& Jobs() const { return jobs_; }
  // For the runner, which updates rows while it encodes.
  JobEntry& Job(size_t index) { return jobs_.at(index); }

  // Jobs that still have volumes to encode (Pending, or Running during a run)
  // and the sum of their volumes still to encode.
  int PendingJobCount() const;
  int RemainingVolumeCount() const;

  // The row of the job in `path` (its JobFolder, the job's identity).
  std::optional<size_t> IndexOf(const std::string& path) const;

 private:
  platform::RegistryAccess& registry_;
  std::vector<JobEntry> jobs_;
};

// Deletes a key with everything below it; false if it does not exist or any
// part could not be deleted.
bool DeleteRegistryTree(platform::RegistryAccess& registry, const std::string& key);

}  // namespace queue
