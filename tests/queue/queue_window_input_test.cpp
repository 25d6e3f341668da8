// The queue window reached as a desktop user reaches it: the job list's
// context menu, its keys and double-click, the status line, and the reasons
// of failed and broken jobs on their rows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "app/shell_state.h"
#include "queue/job_file.h"
#include "queue/job_store.h"
#include "tests/queue/queue_window_fixture.h"

namespace {

using platform::MessageAnswer;
using Names = std::vector<std::string>;

class QueueWindowInput : public kv_test::QueueWindowTest {
 protected:
  ~QueueWindowInput() override { queue::TKVNMenuForm::SetWizardFactory(nullptr); }

  QTreeWidget* List() { return Window().findChild<QTreeWidget*>("JobList"); }
  QMenu* Menu() { return Window().findChild<QMenu*>("JobListMenu"); }

  // Opens the window and makes it the active one, as the keys need.
  void OpenActive() {
    Open();
    Window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    List()->setFocus();
  }

  // A right-click on `row` as the list receives it.
  void RightClick(int row) {
    const QPoint at = List()->visualItemRect(List()->topLevelItem(row)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, List()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(List()->viewport(), &event);
  }

  std::vector<bool> MenuEnabled() {
    std::vector<bool> enabled;
    for (const char* name :
         {"ListEncodeItem", "ListRemoveItem", "ListUpItem", "ListDownItem", "ListOpenFolderItem"})
      enabled.push_back(Window().findChild<QAction*>(name)->isEnabled());
    return enabled;
  }

  // Drags `paths` over the window and drops them there; whether the window
  // took the drag.
  bool Drop(const std::vector<std::string>& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& path : paths)
      urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
    mime.setUrls(urls);
    const QPoint at = List()->mapTo(&Window(), List()->rect().center());
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Window(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Window(), &drop);
    return drop.isAccepted();
  }

  // A DVD folder as a disc copy holds it: the title set files, in a VIDEO_TS
  // folder or not.
  std::string MakeDisc(const std::string& name, const char* video_ts = "VIDEO_TS") {
    const std::string disc = dir_.File(name);
    const std::string files = video_ts[0] ? disc + "/" + video_ts : disc;
    kv_test::WriteFile(files + "/VIDEO_TS.IFO", "ifo");
    kv_test::WriteFile(files + "/VTS_01_0.IFO", "ifo");
    kv_test::WriteFile(files + "/VTS_01_1.VOB", "vob");
    return disc;
  }

  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(List(), static_cast<Qt::Key>(key), modifiers);
  }
};

TEST_F(QueueWindowInput, TheContextMenuOffersTheCommandsOfTheRowClicked) {
  MakeJob("A", "0 / 2", 2);
  MakeJob("B", "1 / 1", 1);
  MakeJob("C", "0 / 1", 1);
  Open();

  RightClick(1);
  ASSERT_NE(Menu(), nullptr);
  EXPECT_TRUE(Menu()->isVisible());
  EXPECT_TRUE(List()->topLevelItem(1)->isSelected()) << "the row clicked becomes the selection";
  // A done job: no Encode, but Remove, Up, Down and its folder.
  EXPECT_EQ(MenuEnabled(), (std::vector<bool>{false, true, true, true, true}));
  Menu()->hide();

  RightClick(2);
  EXPECT_EQ(MenuEnabled(), (std::vector<bool>{true, true, true, false, true}));
  Window().findChild<QAction*>("ListUpItem")->trigger();
  EXPECT_EQ(RegistryNames(), (Names{"A", "C", "B"}));
  Menu()->hide();

  RightClick(0);
  boxes_.Answer(MessageAnswer::Yes);
  Window().findChild<QAction*>("ListRemoveItem")->trigger();
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Do you really want remove this job from the queue?");
  EXPECT_EQ(RegistryNames(), (Names{"C", "B"}));
  Menu()->hide();

  RightClick(0);
  Window().findChild<QAction*>("ListEncodeItem")->trigger();
  EXPECT_TRUE(Window().EncodingActive());
  ASSERT_EQ(encoder_->starts.size(), 1u);
  EXPECT_EQ(encoder_->starts[0].job_file, "out01.rpjf");
  Menu()->hide();
  // During the run the menu offers nothing but the folders.
  RightClick(1);
  EXPECT_EQ(MenuEnabled(), (std::vector<bool>{false, false, false, false, true}));
  Menu()->hide();
}

TEST_F(QueueWindowInput, OpenJobFolderAndADoubleClickOnADoneJobGoThroughTheShell) {
  const std::string pending = MakeJob("Pending", "0 / 2", 2);
  const std::string done = MakeJob("Done", "1 / 1", 1);
  Open();

  auto double_click = [&](int row) {
    const QPoint at = List()->visualItemRect(List()->topLevelItem(row)).center();
    // The view takes a double-click only on the row the first click pressed.
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, at);
  };
  double_click(0);
  EXPECT_TRUE(shell_.documents.empty()) << "a pending job is not opened by a double-click";
  double_click(1);
  EXPECT_EQ(shell_.documents, Names{done});

  RightClick(0);
  Window().findChild<QAction*>("ListOpenFolderItem")->trigger();
  EXPECT_EQ(shell_.documents, (Names{done, pending}));
  Menu()->hide();

  shell_.result = false;
  boxes_.Answer(MessageAnswer::Ok);
  double_click(1);
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Unable to open folder \"" + done + "\"!");
  EXPECT_EQ(boxes_.Messages()[0].icon, platform::MessageIcon::Error);
}

TEST_F(QueueWindowInput, KeysReachTheCommandsOfTheSelectedJob) {
  MakeJob("A", "0 / 1", 1);
  MakeJob("B", "1 / 1", 1);
  MakeJob("C", "0 / 2", 2);
  int wizards = 0;
  queue::TKVNMenuForm::SetWizardFactory([&](queue::TKVNMenuForm*, const std::string&) {
    ++wizards;
    return new QWidget();
  });
  OpenActive();

  Select(0);
  Key(Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(RegistryNames(), (Names{"B", "A", "C"}));
  EXPECT_TRUE(List()->topLevelItem(1)->isSelected()) << "the selection follows its job";
  Key(Qt::Key_Down, Qt::ControlModifier);
  Key(Qt::Key_Down, Qt::ControlModifier);  // already the last: Down is greyed
  EXPECT_EQ(RegistryNames(), (Names{"B", "C", "A"}));
  Key(Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(RegistryNames(), (Names{"B", "A", "C"}));

  Select(0);
  Key(Qt::Key_Delete);  // a done job goes without a question
  EXPECT_EQ(RegistryNames(), (Names{"A", "C"}));
  EXPECT_TRUE(boxes_.Messages().empty());

  Key(Qt::Key_F1);
  EXPECT_EQ(shell_.documents, Names{app::Shell().ProgramFolder + "Readme.txt"});

  Select(1);
  Key(Qt::Key_Return);
  EXPECT_TRUE(Window().EncodingActive());
  ASSERT_EQ(encoder_->starts.size(), 1u);
  Key(Qt::Key_N, Qt::ControlModifier);  // greyed during a run
  EXPECT_EQ(wizards, 0);
  Key(Qt::Key_Delete);
  EXPECT_EQ(RegistryNames(), (Names{"A", "C"})) << "nothing is removed during a run";
  boxes_.Answer(MessageAnswer::Ok);
  encoder_->Stop(true, "Encoding failed!");
  ASSERT_FALSE(Window().EncodingActive());

  Key(Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(wizards, 1);
}

TEST_F(QueueWindowInput, TheStatusLineShowsWhatACommandDoesInsideTheWindowsSize) {
  MakeJob("A", "0 / 1", 1);
  Open();
  EXPECT_EQ(Window().size(), QSize(632, 456));
  auto* status = Window().findChild<QStatusBar*>("StatusBar");
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->isVisible());
  EXPECT_LE(status->geometry().bottom(), Window().height());

  auto* toolbar = Window().findChild<QToolBar*>("Toolbar");
  QWidget* add = toolbar->widgetForAction(Action("AddItem"));
  // The pointer only enters a window that is on screen.
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
  QTest::mouseMove(add);
  EXPECT_EQ(status->currentMessage(), "Add Job");
  QTest::mouseMove(List()->viewport());
  EXPECT_EQ(status->currentMessage(), "") << "leaving the button clears the line";

  RightClick(0);
  Menu()->setActiveAction(Window().findChild<QAction*>("ListOpenFolderItem"));
  EXPECT_EQ(status->currentMessage(), "Open the folder of the selected job");
  Menu()->hide();
}

TEST_F(QueueWindowInput, ADroppedDvdFolderOpensNewJobWithItsSource) {
  std::vector<std::string> sources;
  queue::TKVNMenuForm::SetWizardFactory(
      [&](queue::TKVNMenuForm*, const std::string& dvd_source) -> QWidget* {
        sources.push_back(dvd_source);
        return new QWidget();
      });
  MakeJob("Running", "0 / 2", 2);
  Open();
  const std::string disc = MakeDisc("Disc");
  const std::string bare = MakeDisc("Bare", "");
  const std::string lower = MakeDisc("Lower", "video_ts");
  kv_test::MakeFolders(dir_.File("Empty"));

  EXPECT_TRUE(Drop({disc}));
  EXPECT_FALSE(Window().isEnabled()) << "the wizard holds the window as New Job does";
  Window().setEnabled(true);
  EXPECT_TRUE(Drop({disc + "/VIDEO_TS/"}));
  Window().setEnabled(true);
  EXPECT_TRUE(Drop({bare}));
  Window().setEnabled(true);
  EXPECT_TRUE(Drop({lower}));
  Window().setEnabled(true);
  EXPECT_EQ(sources, (Names{disc, disc + "/VIDEO_TS", bare, lower}));

  // Nothing else is taken: an empty folder, a file, two folders at once.
  EXPECT_FALSE(Drop({dir_.File("Empty")}));
  EXPECT_FALSE(Drop({disc + "/VIDEO_TS/VIDEO_TS.IFO"}));
  EXPECT_FALSE(Drop({disc, bare}));
  // Nor while New Job is greyed, as during a run.
  Select(0);
  Action("StartItem")->trigger();
  EXPECT_FALSE(Drop({disc}));
  EXPECT_EQ(sources.size(), 4u);
  EXPECT_TRUE(boxes_.Messages().empty());
}

TEST_F(QueueWindowInput, ADroppedJobFolderIsAddedAsAddJobAddsIt) {
  Open();
  const std::string job = MakeJob("Fresh", "0 / 2", 2);  // listed after the window loaded
  const std::string incomplete = dir_.File("jobs/Incomplete");
  kv_test::WriteFile(queue::JobFilePathOf(incomplete),
                     queue::FormatJobFileText("Incomplete", "d", "0 / 2", "--", "--"));

  EXPECT_TRUE(Drop({job}));
  ASSERT_EQ(List()->topLevelItemCount(), 1);
  EXPECT_EQ(List()->topLevelItem(0)->text(6).toStdString(), job);
  EXPECT_EQ(RegistryNames(), Names{"Fresh"});

  boxes_.Answer(MessageAnswer::Ok);
  boxes_.Answer(MessageAnswer::Ok);
  EXPECT_TRUE(Drop({job + "/"}));
  EXPECT_TRUE(Drop({incomplete}));
  ASSERT_EQ(boxes_.Messages().size(), 2u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Job is already added to the list.");
  EXPECT_EQ(boxes_.Messages()[1].text, "The selected folder does not contain a valid job!");
  EXPECT_EQ(List()->topLevelItemCount(), 1);
  EXPECT_TRUE(chooser_.Requests().empty()) << "the drop is the folder chosen";
}

TEST_F(QueueWindowInput, AFailureStaysOnItsRowUntilTheJobIsEncodedAgain) {
  MakeJob("A", "0 / 2", 2);
  MakeJob("B", "1 / 3", 3);
  const std::string gone = dir_.File("jobs/Gone");
  ListJob(gone, "Gone");
  Open();
  auto tip = [&](int row) { return List()->topLevelItem(row)->toolTip(3).toStdString(); };
  EXPECT_EQ(tip(2), "The job folder \"" + gone + "\" does not exist.");

  // An unattended batch: both jobs fail, and nothing but a sound says so.
  Action("StartAllItem")->trigger();
  encoder_->Stop(true, "Encoding failed!");
  encoder_->Stop(true, "Encoder was abnormally terminated!");
  ASSERT_FALSE(Window().EncodingActive());
  EXPECT_TRUE(boxes_.Messages().empty());
  EXPECT_EQ(tip(0), "Volume 1 / 2: Encoding failed!");
  EXPECT_EQ(tip(1), "Volume 2 / 3: Encoder was abnormally terminated!");
  Select(1);
  EXPECT_EQ(Text("ProgProblemLabel"), "Volume 2 / 3: Encoder was abnormally terminated!");
  Select(2);
  EXPECT_EQ(Text("ProgProblemLabel").toStdString(), tip(2)) << "a broken job says why";
  List()->clearSelection();
  EXPECT_EQ(Text("ProgProblemLabel"), "");

  // The next start of the program still shows them.
  window_.reset();
  Open();
  EXPECT_EQ(tip(0), "Volume 1 / 2: Encoding failed!");
  EXPECT_EQ(tip(1), "Volume 2 / 3: Encoder was abnormally terminated!");

  // Encoded again, the record goes; a finished job keeps none.
  Select(0);
  Action("StartItem")->trigger();
  EXPECT_EQ(tip(0), "");
  EXPECT_EQ(Text("ProgProblemLabel"), "");
  encoder_->Finish(1, 2);
  encoder_->Finish(2, 2);
  ASSERT_EQ(StateOf(0), queue::JobState::Done);
  EXPECT_EQ(registry_.Store().ValueType(platform::RegistryRoot::LocalMachine,
                                        std::string(queue::kJobsKey) + "\\0", queue::kFailureValue),
            platform::RegistryValueType::None);
  EXPECT_EQ(tip(1), "Volume 2 / 3: Encoder was abnormally terminated!");
}

}  // namespace
