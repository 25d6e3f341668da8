#include "queue/job_store.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/file_system.h"
#include "queue/job_file.h"
#include "queue/job_problem.h"

namespace queue {

namespace {

using platform::RegistryValueType;

// Entry names in visiting order: decimal names by value (leading zeros
// allowed), then the rest by name.
std::vector<std::string> VisitingOrder(std::vector<std::string> names) {
  auto numeric = [](const std::string& s) -> std::optional<unsigned long> {
    if (s.empty() || s.size() > 9) return std::nullopt;
    for (char c : s)
      if (c < '0' || c > '9') return std::nullopt;
    return std::stoul(s);
  };
  std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    const auto na = numeric(a), nb = numeric(b);
    if (na && nb) return *na != *nb ? *na < *nb : a < b;
    if (na || nb) return na.has_value();
    return a < b;
  });
  return names;
}

std::string Child(const std::string& key, const std::string& name) {
  return key + "\\" + name;
}

}  // namespace

bool DeleteRegistryTree(platform::RegistryAccess& registry, const std::string& key) {
  const std::string full = registry.Resolve(key);
  if (!registry.Store().KeyExists(registry.Root(), full)) return false;
  return registry.Store().DeleteKey(registry.Root(), full);
}

bool JobStore::InitJobRegistry() {
  platform::RegistryStore& store = registry_.Store();
  const auto root = registry_.Root();
  if (!registry_.OpenKey(std::string("\\") + kProductKey, true)) return false;
  if (!registry_.OpenKey(std::string("\\") + kJobsKey, true)) return false;
  registry_.CloseKey();

  auto names = store.SubKeyNames(root, kJobsKey);
  if (!names) return false;
  std::vector<std::string> order = VisitingOrder(*names);

  unsigned long n = 0;
  for (size_t visit = 0; visit < order.size(); ++visit) {
    const std::string entry = Child(kJobsKey, order[visit]);
    if (!store.KeyExists(root, entry)) continue;

    // An entry has no subkeys of its own.
    if (auto subkeys = store.SubKeyNames(root, entry)) {
      for (const std::string& sub : *subkeys) store.DeleteKey(root, Child(entry, sub));
    }

    const bool valid = store.ValueType(root, entry, "Path") == RegistryValueType::String &&
                       store.ValueType(root, entry, "Name") == RegistryValueType::String &&
                       store.ValueType(root, entry, "Date") == RegistryValueType::String &&
                       store.ValueType(root, entry, "Done") == RegistryValueType::DWord;
    if (!valid) {
      store.DeleteKey(root, entry);
      continue;
    }

    const std::string wanted = std::to_string(n);
    if (order[visit] != wanted) {
      const std::string target = Child(kJobsKey, wanted);
      if (store.KeyExists(root, target)) {
        // The name belongs to an entry not visited yet (names such as "01"
        // and "1" side by side): park that one under a free name first.
        auto later = std::find_if(order.begin() + static_cast<long>(visit) + 1, order.end(),
                                  [&](const std::string& s) { return s == wanted; });
        std::string parked;
        for (int k = 0; parked.empty() || store.KeyExists(root, Child(kJobsKey, parked)); ++k)
          parked = "~" + wanted + "-" + std::to_string(k);
        if (!store.MoveKey(root, target, Child(kJobsKey, parked))) return false;
        if (later != order.end()) *later = parked;
      }
      if (!store.MoveKey(root, entry, target)) return false;
    }
    ++n;
  }

  if (!store.KeyExists(root, kJobsKey)) return false;
  return store.WriteDWord(root, kJobsKey, "Count", static_cast<uint32_t>(n));
}

bool JobStore::LoadJobList() {
  jobs_.clear();
  platform::RegistryStore& store = registry_.Store();
  const auto root = registry_.Root();
  const auto count = store.ReadDWord(root, kJobsKey, "Count");
  if (!count) return false;

  for (uint32_t n = 0; n < *count; ++n) {
    const std::string entry = Child(kJobsKey, std::to_string(n));
    if (!store.KeyExists(root, entry)) continue;
    const std::string path =
        platform::WithoutTrailingSeparators(store.ReadString(root, entry, "Path").value_or(""));
    const std::string name = store.ReadString(root, entry, "Name").value_or("");
    const std::string date = store.ReadString(root, entry, "Date").value_or("");
    const uint32_t done = store.ReadDWord(root, entry, "Done").value_or(0);

    const auto lines = ReadJobFileLines(JobFilePathOf(path));
    const auto progress = lines ? ValidateJobFileLines(*lines) : std::nullopt;
    if (lines && progress && lines->name == name && lines->date == date) {
      JobEntry row = EntryFromJobFile(*lines, *progress, path);
      if (row.State == JobState::Pending)
        row.Problem = store.ReadString(root, entry, kFailureValue).value_or("");
      jobs_.push_back(std::move(row));
    } else {
      JobEntry row;
      row.Name = name;
      row.Date = date;
      row.Path = path;
      row.State = done != 0 ? JobState::Done : JobState::Broken;
      if (row.State == JobState::Broken)
        row.Problem = BrokenJobReason(path, lines, progress.has_value(), name, date);
      jobs_.push_back(std::move(row));
    }
  }
  return true;
}

bool JobStore::SaveJobList() {
  platform::RegistryStore& store = registry_.Store();
  const auto root = registry_.Root();
  // The old entries are deleted and the new ones written in one transaction,
  // so that a crash in the middle of a save leaves the previous list intact.
  return store.Atomically([&] {
    if (store.KeyExists(root, kJobsKey) &&
        !DeleteRegistryTree(registry_, std::string("\\") + kJobsKey))
      return false;
    if (!store.CreateKey(root, kJobsKey)) return false;
    if (!store.WriteDWord(root, kJobsKey, "Count", static_cast<uint32_t>(jobs_.size())))
      return false;
    for (size_t i = 0; i < jobs_.size(); ++i) {
      const std::string entry = Child(kJobsKey, std::to_string(i));
      const JobEntry& job = jobs_[i];
      if (!store.CreateKey(root, entry) || !store.WriteString(root, entry, "Name", job.Name) ||
          !store.WriteString(root, entry, "Date", job.Date) ||
          !store.WriteString(root, entry, "Path", job.Path) ||
          !store.WriteDWord(root, entry, "Done", job.State == JobState::Done ? 1 : 0)) {
        return false;
      }
      // A broken job's reason is found again at every load; a failure is
      // only known from the run it happened in.
      if (job.HasWorkLeft() && !job.Problem.empty() &&
          !store.WriteString(root, entry, kFailureValue, job.Problem))
        return false;
    }
    return true;
  });
}

JobStore::AddResult JobStore::AddJobFromFolder(const std::string& folder) {
  AddResult result;
  const auto lines = ReadJobFileLines(JobFilePathOf(folder));
  if (!lines) return result;
  for (const JobEntry& job : jobs_) {
    if (job.Name == lines->name && job.Date == lines->date) {
      result.valid = result.already_listed = true;
      return result;
    }
  }
  const auto progress = ValidateJobFileLines(*lines);
  if (!progress) return result;
  for (int k = 1; k <= progress->volumes.total; ++k) {
    if (!platform::FileExists(JobDataFolderOf(folder) + EncoderJobFileName(k))) return result;
  }
  jobs_.push_back(EntryFromJobFile(*lines, *progress, folder));
  result.valid = true;
  result.saved = SaveJobList();
  return result;
}

bool JobStore::SwapJobs(size_t i, size_t j) {
  if (i >= jobs_.size() || j >= jobs_.size()) return false;
  std::swap(jobs_[i], jobs_[j]);
  return SaveJobList();
}

bool JobStore::RemoveJob(size_t index) {
  if (index >= jobs_.size()) return false;
  jobs_.erase(jobs_.begin() + static_cast<long>(index));
  return SaveJobList();
}

int JobStore::PendingJobCount() const {
  return static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(),
                                        [](const JobEntry& job) { return job.HasWorkLeft(); }));
}

int JobStore::RemainingVolumeCount() const {
  int remaining = 0;
  for (const JobEntry& job : jobs_) remaining += job.VolumesLeft();
  return remaining;
}

std::optional<size_t> JobStore::IndexOf(const std::string& path) const {
  for (size_t i = 0; i < jobs_.size(); ++i)
    if (jobs_[i].Path == path) return i;
  return std::nullopt;
}

}  // namespace queue
