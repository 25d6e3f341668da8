// A full disk under the job: its folder is on a small file system of its
// own, filled for real (or, where none can be mounted, a folder whose
// writes fail with ENOSPC) at a step of the job's own work: while the job is
// written, while a volume is written, and while the job records a finished
// volume. The job is refused or failed with the reason, what was finished
// before stays whole, and once there is room again the job is made and
// encoded to the same volumes as on a disk with room.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "tests/faults/fault_road.h"
#include "tests/faults/small_disk.h"
#include "tests/queue/queued_jobs.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr char kNoSpace[] = "No space left on device";

class FullDisk : public ::testing::Test {
 protected:
  void TearDown() override { kv_test::ForgetQueuedJobs(); }

  // The disk with a job finished earlier on it; false when the test runs
  // in a namespace of its own instead (see MountOrRerun).
  bool MakeDisk() {
    if (!kv_test::MountOrRerun()) return false;
    EXPECT_EQ(kv_test::ReferenceVolumes().size(), 2u);
    disk_ = std::make_unique<kv_test::SmallDisk>();
    PlaceEarlierVolumes();
    return !HasFailure();
  }

  std::string Folder() const { return disk_->Path() + "/" + kv_test::kRoadName; }
  std::string EarlierFolder() const { return disk_->Path() + "/Earlier"; }

  // A job finished earlier on the same disk, whose volumes must stay whole.
  void PlaceEarlierVolumes() {
    kv_test::MakeFolders(EarlierFolder());
    for (int k = 1; k <= 2; ++k)
      kv_test::WriteFile(kv_test::RoadVolumePath(EarlierFolder(), k),
                         kv_test::ReferenceVolumes()[k - 1]);
  }
  void ExpectEarlierVolumesWhole() {
    for (int k = 1; k <= 2; ++k)
      EXPECT_EQ(kv_test::ReadFile(kv_test::RoadVolumePath(EarlierFolder(), k)),
                kv_test::ReferenceVolumes()[k - 1])
          << "earlier volume " << k;
  }
  // The job's encode fails on the full disk at `step`, with the reason in
  // the queue and on the terminal: `problem` and the system's words.
  void ExpectEncodeFailsAt(const std::string& step, const std::string& problem) {
    const kv_test::CliRun failed = kv_test::RunCli({"encode", Folder()}, disk_->FullAt(step));
    EXPECT_EQ(failed.status, 1) << failed.out;
    const kv_test::ListedRow row = kv_test::ListedRowOf(Folder());
    EXPECT_EQ(row.state, "pending");
    EXPECT_EQ(row.problem.rfind(problem, 0), 0u) << row.problem;
    EXPECT_NE(row.problem.find(kNoSpace), std::string::npos) << row.problem;
    EXPECT_NE(failed.err.find(kNoSpace), std::string::npos) << failed.err;
  }
  // Once there is room, the job encodes to its end, byte for byte the
  // volumes of a disk that never was full.
  void ExpectEncodesWholeAfterFreeing() {
    disk_->FreeSpace();
    const kv_test::CliRun encoded = kv_test::RunCli({"encode", Folder()});
    ASSERT_EQ(encoded.status, 0) << encoded.err << encoded.out;
    EXPECT_EQ(kv_test::ListedRowOf(Folder()).state, "done");
    for (int k = 1; k <= 2; ++k)
      EXPECT_EQ(kv_test::ReadFile(kv_test::RoadVolumePath(Folder(), k)),
                kv_test::ReferenceVolumes()[k - 1])
          << "volume " << k;
    ExpectEarlierVolumesWhole();
  }

  std::unique_ptr<kv_test::SmallDisk> disk_;
};

TEST_F(FullDisk, WhileTheJobIsWrittenItIsRefusedAndMadeOnceThereIsRoom) {
  if (!MakeDisk()) return;
  // The disk fills as the job writer begins the first volume's script.
  const kv_test::CliRun refused = kv_test::RunCli(kv_test::NewRoadJobArguments(disk_->Path()),
                                                  disk_->FullAt("fopen:/.kvnj/out01.avs"));
  EXPECT_EQ(refused.status, 1) << refused.out;
  EXPECT_NE(refused.err.find("Unable to save job!"), std::string::npos) << refused.err;
  // Nothing half-written stays, in the folder or in the queue.
  EXPECT_FALSE(fs::exists(Folder()));
  EXPECT_FALSE(kv_test::ListedRowOf(Folder()).found);
  ExpectEarlierVolumesWhole();

  disk_->FreeSpace();
  const kv_test::CliRun made = kv_test::RunCli(kv_test::NewRoadJobArguments(disk_->Path()));
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(kv_test::ListedRowOf(Folder()).state, "pending");
  ExpectEncodesWholeAfterFreeing();
}

TEST_F(FullDisk, WhileAVolumeIsWrittenTheJobFailsWithTheReasonAndEncodesOnceThereIsRoom) {
  if (!MakeDisk()) return;
  ASSERT_EQ(kv_test::RunCli(kv_test::NewRoadJobArguments(disk_->Path())).status, 0);
  // The disk fills when half the second volume is written.
  const size_t half = kv_test::ReferenceVolumes()[1].size() / 2;
  ExpectEncodeFailsAt("write:(2of2).rmvb:" + std::to_string(half),
                      "Volume 2 / 2: Encoding failed! (");
  EXPECT_EQ(kv_test::ListedRowOf(Folder()).volumes_done, 1);
  EXPECT_EQ(kv_test::ReadFile(kv_test::RoadVolumePath(Folder(), 1)),
            kv_test::ReferenceVolumes()[0]);
  ExpectEarlierVolumesWhole();
  ExpectEncodesWholeAfterFreeing();
}

TEST_F(FullDisk, WhileAFinishedVolumeIsRecordedTheJobFailsWithTheReasonAndEncodesOnceThereIsRoom) {
  if (!MakeDisk()) return;
  ASSERT_EQ(kv_test::RunCli(kv_test::NewRoadJobArguments(disk_->Path())).status, 0);
  // The first volume is encoded; the disk fills as its JobFile is written.
  ExpectEncodeFailsAt("mkstemp:/.kvnj/..kvnj.XXXXXX", "Volume 1 / 2: Unable to save job! (");
  // The JobFile says what it said before, and the volume encoded stays.
  EXPECT_EQ(kv_test::ListedRowOf(Folder()).volumes_done, 0);
  EXPECT_EQ(kv_test::ReadFile(kv_test::RoadVolumePath(Folder(), 1)),
            kv_test::ReferenceVolumes()[0]);
  ExpectEarlierVolumesWhole();
  ExpectEncodesWholeAfterFreeing();
}

}  // namespace
