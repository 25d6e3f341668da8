// The queue window driven as a user drives it: the list, the commands and
// their enabling, the details panel, the priority and shutdown controls.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QComboBox>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include "app/shell_state.h"
#include "app/splash_form.h"
#include "platform/file_system.h"
#include "queue/job_file.h"
#include "tests/queue/queue_window_fixture.h"

namespace {

using platform::MessageAnswer;
using platform::MessageIcon;
using Names = std::vector<std::string>;

class QueueWindow : public kv_test::QueueWindowTest {
 protected:
  void ChoosePriority(int index) {
    auto* combo = Window().findChild<QComboBox*>("PriorityCombo");
    combo->setCurrentIndex(index);
    emit combo->activated(index);
  }
  int Priority() { return Window().findChild<QComboBox*>("PriorityCombo")->currentIndex(); }
  QRadioButton* Radio(const char* name) { return Window().findChild<QRadioButton*>(name); }
};

TEST_F(QueueWindow, AnEmptyListOffersNoBatchAndKeepsTheShutdownOptionsGreyed) {
  Open();
  EXPECT_EQ(Window().windowTitle(), "Kestrevane");
  EXPECT_EQ(Window().size(), QSize(632, 456));
  EXPECT_FALSE(Enabled("StartAllItem"));
  EXPECT_FALSE(Enabled("StartItem"));
  EXPECT_FALSE(Enabled("AbortItem"));
  EXPECT_TRUE(Enabled("AddItem"));
  EXPECT_EQ(Text("ShutJobEdit"), "0");
  EXPECT_EQ(Text("ShutVolEdit"), "0");
  ClickShutCheck();
  EXPECT_TRUE(Window().findChild<QCheckBox*>("ShutCheck")->isChecked());
  for (const char* name : {"ShutAllRadio", "ShutJobRadio", "ShutVolRadio", "ShutJobEdit",
                           "ShutVolEdit", "ShutJobUpDown", "ShutVolUpDown"})
    EXPECT_FALSE(Enabled(name)) << name;
  EXPECT_EQ(Text("ProgJobLabel"), "--");
  EXPECT_FALSE(Enabled("ProgJobLabel"));
}

TEST_F(QueueWindow, ListsTheJobsWithTheirStateAndTheShutdownMaxima) {
  MakeJob("Holiday", "1 / 3", 3, "01:05", "02:10");
  MakeJob("Finished", "2 / 2", 2, "00:40");
  ListJob(dir_.File("jobs/Gone"), "Gone");
  MakeJob("Second", "0 / 2", 2);
  Open();
  auto* list = Window().findChild<QTreeWidget*>("JobList");
  ASSERT_EQ(list->topLevelItemCount(), 4);
  EXPECT_EQ(list->headerItem()->text(1), "Job");
  EXPECT_EQ(list->columnWidth(2), 128);
  QTreeWidgetItem* first = list->topLevelItem(0);
  EXPECT_EQ(first->text(1), "Holiday");
  EXPECT_EQ(first->text(3), "1 / 3");
  EXPECT_EQ(first->text(4), "01:05");
  EXPECT_EQ(first->text(5), "02:10");
  EXPECT_EQ(first->data(0, Qt::UserRole).toInt(), 0);                  // Pending
  EXPECT_EQ(list->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 2);  // Done
  EXPECT_EQ(list->topLevelItem(2)->data(0, Qt::UserRole).toInt(), 3);  // Broken
  EXPECT_FALSE(first->icon(0).isNull());
  EXPECT_TRUE(Enabled("StartAllItem"));
  // Two pending jobs with 2 + 2 volumes still to encode.
  EXPECT_EQ(Spinner("ShutJobUpDown")->Maximum(), 2);
  EXPECT_EQ(Spinner("ShutVolUpDown")->Maximum(), 4);
  EXPECT_EQ(Text("ShutJobEdit"), "1");
}

TEST_F(QueueWindow, TheSelectionDrivesTheCommandsAndTheDetailsPanel) {
  MakeJob("Holiday", "1 / 3", 3, "01:05", "02:10");
  MakeJob("Finished", "2 / 2", 2, "00:40");
  ListJob(dir_.File("jobs/Gone"), "Gone");
  Open();

  Select(0);
  EXPECT_TRUE(Enabled("StartItem"));
  EXPECT_TRUE(Enabled("DelItem"));
  EXPECT_FALSE(Enabled("UpItem"));
  EXPECT_TRUE(Enabled("DownItem"));
  EXPECT_EQ(Text("ProgJobLabel"), "Holiday");
  EXPECT_EQ(Text("ProgTimeLabel"), "01:05");
  EXPECT_EQ(Text("ProgLeftLabel"), "02:10");
  EXPECT_EQ(Text("ProgVolLabel1"), "Volume 2 / 3:");
  EXPECT_EQ(Text("ProgVolLabel2"), "0.0 %");
  EXPECT_EQ(Text("ProgTotalLabel2"), "33.3 %");
  EXPECT_EQ(Bar("ProgTotalBar"), 33);
  EXPECT_FALSE(Enabled("ProgJobLabel")) << "an idle job is shown in grey";

  Select(1);  // Done
  EXPECT_FALSE(Enabled("StartItem"));
  EXPECT_TRUE(Enabled("DelItem"));
  EXPECT_TRUE(Enabled("UpItem"));
  EXPECT_TRUE(Enabled("DownItem"));
  EXPECT_EQ(Text("ProgVolLabel1"), "Volume 2 / 2:");
  EXPECT_EQ(Text("ProgVolLabel2"), "100.0 %");
  EXPECT_EQ(Text("ProgTotalLabel2"), "100.0 %");
  EXPECT_EQ(Bar("ProgVolBar"), 100);
  EXPECT_EQ(Bar("ProgTotalBar"), 100);

  Select(2);  // Broken
  EXPECT_FALSE(Enabled("StartItem"));
  EXPECT_FALSE(Enabled("DownItem"));
  EXPECT_EQ(Text("ProgVolLabel1"), "Volume:");
  EXPECT_EQ(Text("ProgVolLabel2"), "0.0 %");
  EXPECT_EQ(Text("ProgTotalLabel2"), "0.0 %");
  EXPECT_EQ(Bar("ProgVolBar"), 0);

  // Clicking beside the rows clears the selection and the panel.
  auto* list = Window().findChild<QTreeWidget*>("JobList");
  list->clearSelection();
  EXPECT_FALSE(Enabled("DelItem"));
  EXPECT_EQ(Text("ProgJobLabel"), "--");
  EXPECT_EQ(Text("ProgVolLabel1"), "Volume:");
}

TEST_F(QueueWindow, ASingleRowCanMoveNeitherWay) {
  MakeJob("Only", "0 / 1", 1);
  Open();
  Select(0);
  EXPECT_FALSE(Enabled("UpItem"));
  EXPECT_FALSE(Enabled("DownItem"));
}

TEST_F(QueueWindow, UpAndDownSwapTheRowsAndSaveTheNewOrder) {
  MakeJob("A", "0 / 1", 1);
  MakeJob("B", "0 / 1", 1);
  MakeJob("C", "1 / 1", 1);
  Open();
  Select(2);
  Action("UpItem")->trigger();
  EXPECT_EQ(RegistryNames(), (Names{"A", "C", "B"}));
  auto* list = Window().findChild<QTreeWidget*>("JobList");
  EXPECT_TRUE(list->topLevelItem(1)->isSelected());
  EXPECT_EQ(list->topLevelItem(1)->text(1), "C");
  EXPECT_EQ(list->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 2) << "the state moves along";
  Action("UpItem")->trigger();
  EXPECT_EQ(RegistryNames(), (Names{"C", "A", "B"}));
  EXPECT_FALSE(Enabled("UpItem"));
  Action("DownItem")->trigger();
  EXPECT_EQ(RegistryNames(), (Names{"A", "C", "B"}));
}

TEST_F(QueueWindow, RemovingAPendingJobAsksAndTheRestGoWithoutAQuestion) {
  const std::string pending = MakeJob("Pending", "1 / 3", 3);
  MakeJob("Done", "2 / 2", 2);
  ListJob(dir_.File("jobs/Broken"), "Broken");
  Open();
  ASSERT_EQ(Spinner("ShutVolUpDown")->Maximum(), 2);

  Select(0);
  boxes_.Answer(MessageAnswer::No);
  Action("DelItem")->trigger();
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Do you really want remove this job from the queue?");
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Information);
  EXPECT_EQ(RegistryNames(), (Names{"Pending", "Done", "Broken"}));

  boxes_.Answer(MessageAnswer::Yes);
  Action("DelItem")->trigger();
  EXPECT_EQ(RegistryNames(), (Names{"Done", "Broken"}));
  EXPECT_EQ(Spinner("ShutJobUpDown")->Maximum(), 0);
  EXPECT_EQ(Spinner("ShutVolUpDown")->Maximum(), 0);
  EXPECT_EQ(Text("ShutVolEdit"), "0");
  EXPECT_FALSE(Enabled("StartAllItem"));
  EXPECT_TRUE(platform::FileExists(queue::JobFilePathOf(pending))) << "nothing on disk goes";

  Select(0);
  Action("DelItem")->trigger();
  Select(0);
  Action("DelItem")->trigger();
  EXPECT_EQ(boxes_.Messages().size(), 2u) << "Done and Broken rows go without a question";
  EXPECT_TRUE(RegistryNames().empty());
}

TEST_F(QueueWindow, AddJobRefusesBadFoldersAndAddsAGoodOneOnce) {
  Open();
  const std::string job = MakeJob("Fresh", "0 / 2", 2);
  const std::string incomplete = dir_.File("jobs/Incomplete");
  kv_test::WriteFile(queue::JobFilePathOf(incomplete),
                     queue::FormatJobFileText("Incomplete", "d", "0 / 2", "--", "--"));

  boxes_.Answer(MessageAnswer::Ok);
  boxes_.Answer(MessageAnswer::Ok);
  chooser_.Answer(std::nullopt);  // cancelled: nothing happens
  chooser_.Answer(incomplete);    // an encoder job file is missing
  chooser_.Answer(job);
  chooser_.Answer(job + "/");  // the same job again
  for (int i = 0; i < 4; ++i) Action("AddItem")->trigger();

  ASSERT_EQ(chooser_.Requests().size(), 4u);
  EXPECT_EQ(chooser_.Requests()[0].title, "Select folder containing the job.");
  EXPECT_TRUE(chooser_.Requests()[0].allow_new_folder);
  ASSERT_EQ(boxes_.Messages().size(), 2u);
  EXPECT_EQ(boxes_.Messages()[0].text, "The selected folder does not contain a valid job!");
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Error);
  EXPECT_EQ(boxes_.Messages()[1].text, "Job is already added to the list.");
  EXPECT_EQ(boxes_.Messages()[1].icon, MessageIcon::Information);
  auto* list = Window().findChild<QTreeWidget*>("JobList");
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(6).toStdString(), job);
  EXPECT_TRUE(Enabled("StartAllItem"));
  EXPECT_EQ(Spinner("ShutJobUpDown")->Maximum(), 1);
  EXPECT_EQ(Spinner("ShutVolUpDown")->Maximum(), 2);
  EXPECT_EQ(Text("ShutVolEdit"), "1");
}

TEST_F(QueueWindow, PriorityAboveNormalIsConfirmedEveryStepUp) {
  Open();
  EXPECT_EQ(Priority(), 1);
  boxes_.Answer(MessageAnswer::Yes);
  ChoosePriority(2);
  boxes_.Answer(MessageAnswer::Yes);
  ChoosePriority(3);
  ASSERT_EQ(boxes_.Messages().size(), 2u);
  EXPECT_EQ(boxes_.Messages()[0].text,
            "Setting the priority of the encoder above normal may cause\nthe system to freeze! "
            "Are you sure you want to do this?");
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Warning);
  ChoosePriority(0);  // down: no question
  ChoosePriority(1);
  EXPECT_EQ(boxes_.Messages().size(), 2u);

  boxes_.Answer(MessageAnswer::No);
  ChoosePriority(3);
  EXPECT_EQ(Priority(), 1) << "a refusal puts the previous choice back";
  EXPECT_TRUE(encoder_->priority_changes.empty()) << "no encoder runs";

  encoder_->child_running = true;
  ChoosePriority(0);
  ASSERT_EQ(encoder_->priority_changes.size(), 1u);
  EXPECT_EQ(encoder_->priority_changes[0], queue::PriorityClass::Idle);
}

TEST(PriorityClass, MapsTheComboIndexes) {
  EXPECT_EQ(queue::PriorityClassOf(0), queue::PriorityClass::Idle);
  EXPECT_EQ(queue::PriorityClassOf(1), queue::PriorityClass::Normal);
  EXPECT_EQ(queue::PriorityClassOf(2), queue::PriorityClass::High);
  EXPECT_EQ(queue::PriorityClassOf(3), queue::PriorityClass::Realtime);
  EXPECT_EQ(queue::PriorityClassOf(-1), queue::PriorityClass::Normal);
  EXPECT_EQ(queue::PriorityClassOf(7), queue::PriorityClass::Normal);
}

TEST_F(QueueWindow, WithOnePendingJobTheJobCounterStaysGreyUntilJobsIsClicked) {
  MakeJob("Only", "0 / 3", 3);
  Open();
  Radio("ShutJobRadio")->setChecked(true);
  ClickShutCheck();
  EXPECT_TRUE(Enabled("ShutJobRadio"));
  EXPECT_TRUE(Enabled("ShutJobEdit"));
  EXPECT_FALSE(Enabled("ShutJobUpDown")) << "its maximum is 1";
  EXPECT_FALSE(Enabled("ShutVolEdit"));
  QTest::mouseClick(Radio("ShutJobRadio"), Qt::LeftButton, {}, QPoint(6, 6));
  EXPECT_TRUE(Enabled("ShutJobUpDown"));
  QTest::mouseClick(Radio("ShutVolRadio"), Qt::LeftButton, {}, QPoint(6, 6));
  EXPECT_TRUE(Enabled("ShutVolEdit"));
  EXPECT_TRUE(Enabled("ShutVolUpDown"));
  EXPECT_FALSE(Enabled("ShutJobEdit"));
  // The volume counter steps within 1..3 and does not wrap.
  queue::UpDown* volumes = Spinner("ShutVolUpDown");
  for (int i = 0; i < 5; ++i) volumes->StepUp();
  EXPECT_EQ(Text("ShutVolEdit"), "3");
  for (int i = 0; i < 5; ++i) volumes->StepDown();
  EXPECT_EQ(Text("ShutVolEdit"), "1");
  QTest::mouseClick(Radio("ShutAllRadio"), Qt::LeftButton, {}, QPoint(6, 6));
  EXPECT_FALSE(Enabled("ShutVolEdit"));
  EXPECT_FALSE(Enabled("ShutJobUpDown"));
}

TEST_F(QueueWindow, HelpOpensTheProgramFoldersFilesAndReportsAFailure) {
  Open();
  Action("HelpReadmeItem")->trigger();
  QTest::mouseClick(Window().findChild<QToolButton*>("HelpSubmenuItem"), Qt::LeftButton, {},
                    QPoint(8, 8));
  shell_.result = false;
  boxes_.Answer(MessageAnswer::Ok);
  Action("HelpLicenseItem")->trigger();
  const std::string program = app::Shell().ProgramFolder;
  EXPECT_EQ(shell_.documents,
            (Names{program + "Readme.txt", program + "Readme.txt", program + "License.txt"}));
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Unable to open file \"License.txt\"!");
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Error);
}

TEST_F(QueueWindow, AboutDisablesTheWindowUntilItsPictureIsClicked) {
  const std::string table = "StringFileInfo\\040904E4\\";
  app::TKVNSplashForm about(app::VersionInfo(
      {{table + "FileVersion", "1"}, {table + "Comments", "c"}, {table + "LegalCopyright", "l"}}));
  app::Shell().SplashWindow = &about;
  Open();
  Action("HelpAboutItem")->trigger();
  EXPECT_TRUE(about.isVisible());
  EXPECT_FALSE(Window().isEnabled());
  QTest::mouseClick(about.findChild<QLabel*>("Image"), Qt::LeftButton);
  EXPECT_FALSE(about.isVisible());
  EXPECT_TRUE(Window().isEnabled());
}

TEST_F(QueueWindow, MinimisingItMinimisesTheWholeApplication) {
  Open();
  QWidget other;  // another window of the application, such as the wizard
  other.show();
  Window().showMinimized();
  QCoreApplication::processEvents();
  EXPECT_TRUE(other.windowState() & Qt::WindowMinimized);
}

TEST_F(QueueWindow, AStoreThatCannotBeReadEndsTheProgramWhenTheWindowShows) {
  MakeJob("A", "0 / 1", 1);
  // Another program damages the store behind the open connection's back.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(registry_.Path().c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA foreign_keys=OFF; DROP TABLE vals; DROP TABLE keys;", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  boxes_.Answer(MessageAnswer::Ok);
  Open();
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text,
            "Registry entries are corrupted! Please restart Kestrevane.");
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Error);
  EXPECT_EQ(Window().findChild<QTreeWidget*>("JobList")->topLevelItemCount(), 0);
}

TEST_F(QueueWindow, AListThatCannotBeSavedIsReported) {
  MakeJob("Done", "1 / 1", 1);
  Open();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(registry_.Path().c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA foreign_keys=OFF; DROP TABLE vals; DROP TABLE keys;", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  Select(0);
  boxes_.Answer(MessageAnswer::Ok);
  Action("DelItem")->trigger();
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Error updating configuration!");
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Error);
}

TEST_F(QueueWindow, TheListIsSavedWhenTheWindowIsHidden) {
  MakeJob("A", "0 / 1", 1);
  Open();
  // Rows exchanged behind the registry's back are written by the hide.
  ASSERT_TRUE(registry_.Store().WriteString(platform::RegistryRoot::LocalMachine,
                                            std::string(queue::kJobsKey) + "\\0", "Name", "X"));
  Window().hide();
  EXPECT_EQ(RegistryNames(), (Names{"A"}));
}

}  // namespace
