#include "queue/job_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "queue/job_file.h"
#include "tests/support/scoped_registry.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::RegistryRoot;
using platform::RegistryValueType;
using queue::JobState;
using queue::kJobsKey;

constexpr RegistryRoot kRoot = RegistryRoot::LocalMachine;

class JobStoreTest : public ::testing::Test {
 protected:
  std::string Entry(const std::string& name) { return std::string(kJobsKey) + "\\" + name; }

  void PutEntry(const std::string& name, const std::string& job, const std::string& path,
                uint32_t done, const std::string& date = "the date") {
    auto& s = registry_.Store();
    ASSERT_TRUE(s.CreateKey(kRoot, Entry(name)));
    ASSERT_TRUE(s.WriteString(kRoot, Entry(name), "Name", job));
    ASSERT_TRUE(s.WriteString(kRoot, Entry(name), "Date", date));
    ASSERT_TRUE(s.WriteString(kRoot, Entry(name), "Path", path));
    ASSERT_TRUE(s.WriteDWord(kRoot, Entry(name), "Done", done));
  }

  // A job folder with its JobFile and `volumes` encoder job files.
  std::string MakeJob(const std::string& name, const std::string& progress, int volumes,
                      const std::string& time = "--", const std::string& left = "--") {
    const std::string folder = dir_.File(name);
    kv_test::WriteFile(queue::JobFilePathOf(folder),
                       queue::FormatJobFileText(name, "the date", progress, time, left));
    for (int k = 1; k <= volumes; ++k) {
      char file[32];
      std::snprintf(file, sizeof file, "out%.2d.rpjf", k);
      kv_test::WriteFile(queue::JobDataFolderOf(folder) + file, "<job/>");
    }
    return folder;
  }

  std::string Name(const std::string& entry) {
    return registry_.Store().ReadString(kRoot, Entry(entry), "Name").value_or("<none>");
  }

  kv_test::TempDir dir_;
  kv_test::ScopedRegistry registry_;
  platform::RegistryAccess access_{registry_.Store(), kRoot};
  queue::JobStore store_{access_};
};

TEST_F(JobStoreTest, InitCreatesTheKeysWithAZeroCount) {
  ASSERT_TRUE(store_.InitJobRegistry());
  EXPECT_TRUE(registry_.Store().KeyExists(kRoot, queue::kProductKey));
  EXPECT_EQ(registry_.Store().ReadDWord(kRoot, kJobsKey, "Count"), 0u);
}

TEST_F(JobStoreTest, InitDropsInvalidEntriesAndRenumbersTheRestInOrder) {
  PutEntry("0", "A", "/a", 0);
  PutEntry("1", "B", "/b", 0);
  PutEntry("3", "C", "/c", 1);
  ASSERT_TRUE(registry_.Store().DeleteValue(kRoot, Entry("1"), "Done"));
  ASSERT_TRUE(store_.InitJobRegistry());
  EXPECT_EQ(registry_.Store().ReadDWord(kRoot, kJobsKey, "Count"), 2u);
  EXPECT_EQ(Name("0"), "A");
  EXPECT_EQ(Name("1"), "C");
  EXPECT_FALSE(registry_.Store().KeyExists(kRoot, Entry("3")));
}

TEST_F(JobStoreTest, InitKeepsNumericOrderPastTenEntriesAndAcrossGaps) {
  for (int i = 0; i < 13; ++i) {
    if (i == 4) continue;
    PutEntry(std::to_string(i), "Job" + std::to_string(i), "/j", 0);
  }
  ASSERT_TRUE(store_.InitJobRegistry());
  EXPECT_EQ(registry_.Store().ReadDWord(kRoot, kJobsKey, "Count"), 12u);
  EXPECT_EQ(Name("3"), "Job3");
  EXPECT_EQ(Name("4"), "Job5");
  EXPECT_EQ(Name("9"), "Job10");
  EXPECT_EQ(Name("11"), "Job12");
}

TEST_F(JobStoreTest, InitRejectsAStringDoneDropsSubkeysAndRewritesAStringCount) {
  PutEntry("0", "A", "/a", 0);
  PutEntry("1", "B", "/b", 0);
  ASSERT_TRUE(registry_.Store().WriteString(kRoot, Entry("1"), "Done", "1"));
  ASSERT_TRUE(registry_.Store().CreateKey(kRoot, Entry("0") + "\\extra\\deeper"));
  ASSERT_TRUE(registry_.Store().WriteString(kRoot, kJobsKey, "Count", "7"));
  ASSERT_TRUE(store_.InitJobRegistry());
  EXPECT_EQ(registry_.Store().ValueType(kRoot, kJobsKey, "Count"), RegistryValueType::DWord);
  EXPECT_EQ(registry_.Store().ReadDWord(kRoot, kJobsKey, "Count"), 1u);
  EXPECT_EQ(Name("0"), "A");
  EXPECT_EQ(registry_.Store().SubKeyNames(kRoot, Entry("0"))->size(), 0u);
}

TEST_F(JobStoreTest, InitSortsOutNamesThatCollideWithTheirNewNumbers) {
  PutEntry("0", "A", "/a", 0);
  PutEntry("01", "B", "/b", 0);
  PutEntry("1", "C", "/c", 0);
  PutEntry("2", "D", "/d", 0);
  ASSERT_TRUE(store_.InitJobRegistry());
  EXPECT_EQ(registry_.Store().ReadDWord(kRoot, kJobsKey, "Count"), 4u);
  std::set<std::string> names{Name("0"), Name("1"), Name("2"), Name("3")};
  EXPECT_EQ(names, (std::set<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(Name("3"), "D");
}

TEST_F(JobStoreTest, LoadBuildsRowsFromValidJobFilesAndMarksTheRest) {
  const std::string pending = MakeJob("Pending", "1 / 3", 3, "1:05", "2:10");
  const std::string fresh = MakeJob("Fresh", "0 / 2", 2, "00:30", "01:00");
  const std::string mismatched = MakeJob("holiday", "1 / 2", 2);
  PutEntry("0", "Pending", pending + "/", 0);
  PutEntry("1", "Fresh", fresh, 0);
  PutEntry("2", "Holiday", mismatched, 0);  // the file's name differs by case
  PutEntry("3", "Finished", dir_.File("gone"), 1);
  ASSERT_TRUE(store_.InitJobRegistry());
  ASSERT_TRUE(store_.LoadJobList());
  const auto& jobs = store_.Jobs();
  ASSERT_EQ(jobs.size(), 4u);

  EXPECT_EQ(jobs[0].State, JobState::Pending);
  EXPECT_EQ(jobs[0].Path, pending) << "trailing separators are dropped";
  EXPECT_EQ(queue::TimeText(jobs[0].Time), "01:05");
  EXPECT_EQ(queue::TimeText(jobs[0].Left), "02:10");
  EXPECT_EQ(queue::TimeText(jobs[1].Time), "--");
  EXPECT_EQ(queue::TimeText(jobs[1].Left), "--");
  EXPECT_EQ(jobs[2].State, JobState::Broken);
  EXPECT_EQ(queue::ProgressText(jobs[2].Progress), "--");
  EXPECT_EQ(jobs[3].State, JobState::Done);
  EXPECT_EQ(queue::ProgressText(jobs[3].Progress), "--");

  EXPECT_EQ(store_.PendingJobCount(), 2);
  EXPECT_EQ(store_.RemainingVolumeCount(), 2 + 2);
}

TEST_F(JobStoreTest, AddRefusesIncompleteJobsAndIgnoresOnesAlreadyListed) {
  ASSERT_TRUE(store_.InitJobRegistry());
  ASSERT_TRUE(store_.LoadJobList());
  const std::string job = MakeJob("Holiday", "0 / 3", 3);
  const std::string broken = MakeJob("Broken", "0 / 3", 3);
  ASSERT_TRUE(platform::DeleteFile(queue::JobDataFolderOf(broken) + "out02.rpjf"));

  auto result = store_.AddJobFromFolder(broken);
  EXPECT_FALSE(result.valid);
  EXPECT_TRUE(store_.Jobs().empty());

  result = store_.AddJobFromFolder(job);
  EXPECT_TRUE(result.valid);
  EXPECT_FALSE(result.already_listed);
  EXPECT_TRUE(result.saved);
  EXPECT_EQ(registry_.Store().ReadDWord(kRoot, kJobsKey, "Count"), 1u);
  EXPECT_EQ(registry_.Store().ReadString(kRoot, Entry("0"), "Path"), job);

  result = store_.AddJobFromFolder(job);
  EXPECT_TRUE(result.valid);
  EXPECT_TRUE(result.already_listed);
  EXPECT_EQ(store_.Jobs().size(), 1u);

  EXPECT_FALSE(store_.AddJobFromFolder(dir_.File("nothing-here")).valid);
}

TEST_F(JobStoreTest, SaveSurvivesAReloadAndAnEmptyListLeavesCountZero) {
  ASSERT_TRUE(store_.InitJobRegistry());
  ASSERT_TRUE(store_.LoadJobList());
  ASSERT_TRUE(store_.AddJobFromFolder(MakeJob("One", "0 / 1", 1)).valid);
  ASSERT_TRUE(store_.AddJobFromFolder(MakeJob("Two", "2 / 2", 2, "01:00")).valid);
  ASSERT_TRUE(store_.SwapJobs(0, 1));

  queue::JobStore reloaded(access_);
  ASSERT_TRUE(reloaded.InitJobRegistry());
  ASSERT_TRUE(reloaded.LoadJobList());
  ASSERT_EQ(reloaded.Jobs().size(), 2u);
  EXPECT_EQ(reloaded.Jobs()[0].Name, "Two");
  EXPECT_EQ(reloaded.Jobs()[0].State, JobState::Done);
  EXPECT_EQ(registry_.Store().ReadDWord(kRoot, Entry("0"), "Done"), 1u);
  EXPECT_EQ(registry_.Store().ReadDWord(kRoot, Entry("1"), "Done"), 0u);

  ASSERT_TRUE(reloaded.RemoveJob(1));
  ASSERT_TRUE(reloaded.RemoveJob(0));
  EXPECT_EQ(registry_.Store().ReadDWord(kRoot, kJobsKey, "Count"), 0u);
  EXPECT_EQ(registry_.Store().SubKeyNames(kRoot, kJobsKey)->size(), 0u);
}

TEST_F(JobStoreTest, DeleteRegistryTreeFailsForAMissingKey) {
  EXPECT_FALSE(queue::DeleteRegistryTree(access_, "\\Software\\Nothing"));
  ASSERT_TRUE(registry_.Store().CreateKey(kRoot, "Software\\Tree\\a\\b"));
  EXPECT_TRUE(queue::DeleteRegistryTree(access_, "\\Software\\Tree"));
  EXPECT_FALSE(registry_.Store().KeyExists(kRoot, "Software\\Tree\\a"));
}

// A process killed while it saves the list, again and again, never leaves a
// shorter or mixed-up list behind: every save is all or nothing.
TEST_F(JobStoreTest, ASaveKilledHalfwayLeavesTheWholeOldOrNewList) {
  constexpr int kJobs = 14;
  std::set<std::string> names;
  for (int i = 0; i < kJobs; ++i) {
    const std::string name = "Job" + std::to_string(i);
    PutEntry(std::to_string(i), name, MakeJob(name, "0 / 1", 1), 0);
    names.insert(name);
  }
  ASSERT_TRUE(registry_.Store().WriteDWord(kRoot, kJobsKey, "Count", kJobs));

  for (int round = 0; round < 12; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // A store connection of the child's own, as a second program would have.
      auto store = platform::RegistryStore::Open(registry_.Path());
      if (!store) _exit(2);
      platform::RegistryAccess access(*store, kRoot);
      queue::JobStore jobs(access);
      if (!jobs.InitJobRegistry() || !jobs.LoadJobList()) _exit(3);
      if (write(ready[1], "R", 1) != 1) _exit(4);
      for (size_t n = 0;; ++n) jobs.SwapJobs(n % kJobs, (n * 5 + 3) % kJobs);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    ASSERT_EQ(registry_.Store().ReadDWord(kRoot, kJobsKey, "Count"), uint32_t{kJobs});
    std::set<std::string> seen;
    for (int i = 0; i < kJobs; ++i) {
      seen.insert(Name(std::to_string(i)));
      EXPECT_EQ(registry_.Store().ReadDWord(kRoot, Entry(std::to_string(i)), "Done"), 0u);
    }
    EXPECT_EQ(seen, names) << "round " << round;
  }
}

}  // namespace

namespace {

// A broken row says why; the reason is found again at every load.
TEST_F(JobStoreTest, ABrokenJobSaysWhyItIsBroken) {
  struct Case {
    const char* job;
    std::function<void(const std::string& folder)> spoil;
    std::string expected;  // with {file} for the JobFile's path, {folder} for the job's
  };
  const std::vector<Case> cases = {
      {"Gone", [](const std::string& f) { std::filesystem::remove_all(f); },
       "The job folder \"{folder}\" does not exist."},
      {"NoFile", [](const std::string& f) { platform::DeleteFile(queue::JobFilePathOf(f)); },
       "The job's status file \"{file}\" is missing."},
      {"Garbage",
       [](const std::string& f) { kv_test::WriteFile(queue::JobFilePathOf(f), "not a job\n"); },
       "The job's status file \"{file}\" cannot be read."},
      {"Other",
       [](const std::string& f) {
         kv_test::WriteFile(queue::JobFilePathOf(f),
                            queue::FormatJobFileText("Another", "a day", "0 / 1", "--", "--"));
       },
       "The job's status file \"{file}\" belongs to another job (\"Another\", a day)."},
      {"Invalid",
       [](const std::string& f) {
         kv_test::WriteFile(queue::JobFilePathOf(f),
                            queue::FormatJobFileText("Invalid", "the date", "4 / 3", "--", "--"));
       },
       "The job's status file \"{file}\" holds invalid values."},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string folder = MakeJob(cases[i].job, "0 / 1", 1);
    cases[i].spoil(folder);
    PutEntry(std::to_string(i), cases[i].job, folder, 0);
  }
  ASSERT_TRUE(store_.InitJobRegistry());
  ASSERT_TRUE(store_.LoadJobList());
  ASSERT_EQ(store_.Jobs().size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string folder = dir_.File(cases[i].job);
    std::string expected = cases[i].expected;
    for (auto [mark, text] :
         {std::pair<std::string, std::string>{"{file}", queue::JobFilePathOf(folder)},
          {"{folder}", folder}})
      if (size_t at = expected.find(mark); at != std::string::npos)
        expected.replace(at, mark.size(), text);
    EXPECT_EQ(store_.Jobs()[i].State, JobState::Broken) << cases[i].job;
    EXPECT_EQ(store_.Jobs()[i].Problem, expected);
  }
}

// A failure is kept with the entry until the job runs again, and a save
// that finds none removes the old record.
TEST_F(JobStoreTest, AFailureRecordSurvivesASaveAndAReload) {
  PutEntry("0", "Failed", MakeJob("Failed", "1 / 3", 3), 0);
  PutEntry("1", "Done", MakeJob("Done", "1 / 1", 1), 0);
  ASSERT_TRUE(store_.InitJobRegistry());
  ASSERT_TRUE(store_.LoadJobList());
  store_.Job(0).Problem = "Volume 2 / 3: Encoding failed!";
  store_.Job(1).Problem = "not kept for a job without work";
  ASSERT_TRUE(store_.SaveJobList());
  EXPECT_EQ(registry_.Store().ReadString(kRoot, Entry("0"), queue::kFailureValue),
            "Volume 2 / 3: Encoding failed!");
  EXPECT_EQ(registry_.Store().ValueType(kRoot, Entry("1"), queue::kFailureValue),
            RegistryValueType::None);

  ASSERT_TRUE(store_.InitJobRegistry()) << "the extra value keeps the entry valid";
  ASSERT_TRUE(store_.LoadJobList());
  EXPECT_EQ(store_.Jobs()[0].Problem, "Volume 2 / 3: Encoding failed!");
  EXPECT_EQ(store_.Jobs()[1].Problem, "");

  store_.Job(0).Problem.clear();
  ASSERT_TRUE(store_.SaveJobList());
  ASSERT_TRUE(store_.LoadJobList());
  EXPECT_EQ(store_.Jobs()[0].Problem, "");
}

}  // namespace
