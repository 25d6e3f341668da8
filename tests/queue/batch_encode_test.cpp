// Batch Encode through the real queue window while the user clicks around:
// the runner's own selection of the running row, the commands a run leaves
// usable, and the list commands refused while a job runs.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "queue/job_file.h"
#include "tests/queue/queue_window_fixture.h"

namespace {

using platform::MessageAnswer;
using queue::JobState;
using Names = std::vector<std::string>;

const char* const kJobCommands[] = {"StartItem", "StartAllItem", "NewItem", "AddItem",
                                    "DelItem",   "UpItem",       "DownItem"};

class BatchEncode : public kv_test::QueueWindowTest {
 protected:
  int SelectedRow() {
    auto* list = Window().findChild<QTreeWidget*>("JobList");
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
  }
  // While a job runs: only Abort among the job commands, the running row
  // shown in full colour.
  void ExpectRunningDisplay(int row, const std::string& name) {
    for (const char* command : kJobCommands) EXPECT_FALSE(Enabled(command)) << command;
    EXPECT_TRUE(Enabled("AbortItem"));
    for (const char* label : {"ProgJobLabel", "ProgLabel1", "ProgVolLabel1", "ProgTotalLabel2"})
      EXPECT_TRUE(Enabled(label)) << label;
    EXPECT_EQ(Text("ProgJobLabel").toStdString(), name);
    EXPECT_EQ(StateOf(row), JobState::Running);
  }
  // Every command that changes the list, as if something had enabled it.
  void TryToChangeTheList() {
    Action("UpItem")->trigger();
    Action("DownItem")->trigger();
    Action("DelItem")->trigger();
    Window().UpItemClick();
    Window().DownItemClick();
    Window().DelItemClick();
  }
};

TEST_F(BatchEncode, UpWhileTheSecondJobRunsCannotMoveItsWorkOntoAnotherJob) {
  const std::string a = MakeJob("A", "0 / 2", 2);
  const std::string b = MakeJob("B", "0 / 1", 1);
  const std::string c = MakeJob("C", "0 / 1", 1);
  const std::string a_file = JobFileText(a);
  Open();
  Action("StartAllItem")->trigger();
  encoder_->Stop(true, "Encoding failed!");  // A fails; the batch goes on with B
  ExpectRunningDisplay(1, "B");
  EXPECT_EQ(SelectedRow(), 1);

  Window().UpItemClick();
  EXPECT_EQ(RegistryNames(), (Names{"A", "B", "C"}));
  encoder_->Finish(1, 1);

  EXPECT_EQ(StateOf(0), JobState::Pending);
  EXPECT_EQ(RegistryDone(0), 0u);
  EXPECT_EQ(JobFileText(a), a_file);
  EXPECT_TRUE(platform::FileExists(queue::JobDataFolderOf(a) + "out02.rpjf"))
      << "A's work folder is kept";
  EXPECT_EQ(StateOf(1), JobState::Done);
  EXPECT_EQ(RegistryDone(1), 1u);
  EXPECT_FALSE(platform::DirectoryExists(queue::JobDataFolderOf(b)));
  ASSERT_EQ(encoder_->starts.size(), 3u);
  EXPECT_EQ(platform::WithoutTrailingSeparators(encoder_->starts[2].folder),
            platform::WithoutTrailingSeparators(queue::JobDataFolderOf(c)));
  ExpectRunningDisplay(2, "C");
}

// A batch of `jobs` pending jobs with the user's selection on row
// `selected` (-1: none) when Batch Encode is clicked.
class BatchPositions : public BatchEncode,
                       public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(BatchPositions, TheRunningRowIsShownWhateverTheUserHadSelected) {
  const auto [jobs, selected] = GetParam();
  for (int i = 0; i < jobs; ++i) MakeJob("J" + std::to_string(i), "0 / 1", 1);
  Open();
  if (selected >= 0) Select(selected);
  Action("StartAllItem")->trigger();
  for (int row = 0; row < jobs; ++row) {
    SCOPED_TRACE("running row " + std::to_string(row));
    ExpectRunningDisplay(row, "J" + std::to_string(row));
    EXPECT_EQ(SelectedRow(), row) << "the runner selects the running row";
    // The user's clicks elsewhere change neither the panel nor the commands.
    Select(row == 0 ? 1 : 0);
    ExpectRunningDisplay(row, "J" + std::to_string(row));
    encoder_->Finish(1, 1);
  }
  EXPECT_FALSE(Window().EncodingActive());
  EXPECT_TRUE(Enabled("AddItem"));
  EXPECT_FALSE(Enabled("AbortItem"));
  EXPECT_EQ(RegistryDone(jobs - 1), 1u);
}

INSTANTIATE_TEST_SUITE_P(TwoAndThreeJobs, BatchPositions,
                         ::testing::Values(std::pair{2, -1}, std::pair{2, 0}, std::pair{2, 1},
                                           std::pair{3, -1}, std::pair{3, 0}, std::pair{3, 1},
                                           std::pair{3, 2}));

TEST_F(BatchEncode, TheListCommandsAreRefusedWhileAJobRuns) {
  MakeJob("A", "0 / 1", 1);
  MakeJob("B", "0 / 1", 1);
  MakeJob("C", "1 / 1", 1);
  Open();
  Select(1);
  Action("StartItem")->trigger();
  for (int row : {0, 1, 2}) {
    Select(row);
    TryToChangeTheList();
  }
  EXPECT_TRUE(boxes_.Messages().empty()) << "not even the remove question";
  EXPECT_EQ(RegistryNames(), (Names{"A", "B", "C"}));
  EXPECT_EQ(Window().findChild<QTreeWidget*>("JobList")->topLevelItemCount(), 3);
  encoder_->Finish(1, 1);
  EXPECT_EQ(StateOf(1), JobState::Done);
  EXPECT_EQ(RegistryDone(1), 1u);
  EXPECT_EQ(RegistryDone(0), 0u);

  Select(1);
  Action("UpItem")->trigger();
  EXPECT_EQ(RegistryNames(), (Names{"B", "A", "C"})) << "idle again: the commands work";
}

TEST_F(BatchEncode, BetweenTwoVolumesTheCaptionsKeepTheFinishedVolumesPercentage) {
  MakeJob("Two", "0 / 2", 2);
  Open();
  Action("StartAllItem")->trigger();
  encoder_->Progress(60.0);
  EXPECT_EQ(Window().windowTitle(), "Kestrevane - Encoding 30.0%");
  encoder_->Finish(1, 2);
  EXPECT_EQ(Window().windowTitle(), "Kestrevane - Encoding 50.0%");
  EXPECT_EQ(Text("ProgVolLabel1"), "Volume 2 / 2:");
  encoder_->Progress(0.0, false);  // the next encoder has started
  EXPECT_EQ(Window().windowTitle(), "Kestrevane - Encoding 50.0%");
  encoder_->Finish(2, 2);
  EXPECT_EQ(Window().windowTitle(), "Kestrevane");
}

}  // namespace
