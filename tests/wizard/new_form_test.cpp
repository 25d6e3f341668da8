// The wizard frame and its source page, driven as a user drives them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStackedWidget>
#include <QTest>
#include <filesystem>

#include "app/shell_state.h"
#include "platform/file_system.h"
#include "tests/support/sample_dvds.h"
#include "tests/wizard/analysed_disc.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/source_rules.h"

namespace {

using platform::MessageAnswer;
using platform::MessageIcon;

class NewForm : public kv_test::WizardTest {
 protected:
  int NotebookPage() { return Find<QStackedWidget>("Notebook")->currentIndex(); }
  std::string Jobs() { return dir_.File("jobs"); }
};

TEST_F(NewForm, OpensOnTheSourcePageWithNextDisabled) {
  OpenWizard();
  EXPECT_EQ(Wizard()->windowTitle(), "Kestrevane - New Job");
  EXPECT_EQ(Wizard()->size(), QSize(461, 350));
  EXPECT_EQ(NotebookPage(), 0);
  EXPECT_EQ(LabelText("HeaderTitle"), "Create New Job");
  EXPECT_EQ(LabelText("HeaderComment"), "Enter name, destination folder and DVD source path.");
  EXPECT_FALSE(Button("BackButton")->isVisible());
  EXPECT_FALSE(Button("NextButton")->isEnabled());
  EXPECT_FALSE(Button("PreviewButton")->isVisible());
  EXPECT_FALSE(Find<QLabel>("PathLabel")->isVisible());
  EXPECT_FALSE(Window().isEnabled());
  // Only the allowed keys reach the name; the others beep.
  QTest::keyClicks(Edit("NameEdit"), "My/Job*1");
  EXPECT_EQ(Edit("NameEdit")->text(), "MyJob1");
  EXPECT_EQ(sounds_.played.size(), 2u);
}

TEST_F(NewForm, NextFollowsTheFieldsAndTheLabelShowsTheJobPath) {
  OpenWizard();
  kv_test::MakeFolders(Jobs());
  FillSourcePage("Holiday", Jobs(), "/media/dvd");
  EXPECT_TRUE(Button("NextButton")->isEnabled());
  EXPECT_TRUE(Find<QLabel>("PathLabel")->isVisible());
  EXPECT_EQ(LabelText("PathLabel").toStdString(),
            "Job will be created at " + wizard::ShortenShownPath(Jobs() + "/Holiday") + ".");
  EXPECT_EQ(Wizard()->State().JobFolder, Jobs() + "/Holiday");

  Edit("SrcEdit")->setText("media/dvd");  // not absolute
  EXPECT_FALSE(Button("NextButton")->isEnabled());
  Edit("SrcEdit")->setText("/media/dvd");
  EXPECT_TRUE(Button("NextButton")->isEnabled());
  Edit("LocEdit")->setText(QString::fromStdString(Jobs() + "//x"));
  EXPECT_FALSE(Button("NextButton")->isEnabled());
  EXPECT_FALSE(Find<QLabel>("PathLabel")->isVisible());

  // A location that makes a path of the job too long warns once while it
  // grows: the job folder and the longest name of its data folder,
  // "/.kvnj/vts99_pgc255_a9_st31.idx", must make at most 4095 characters.
  const std::string deep = "/" + std::string(4057, 'l');
  boxes_.Answer(MessageAnswer::Ok);
  Edit("LocEdit")->setText(QString::fromStdString(deep));  // 4058 + 8 + 31 = 4097
  EXPECT_FALSE(Button("NextButton")->isEnabled());
  Edit("NameEdit")->backspace();  // 4096: shrinking, no warning
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, wizard::kJobPathTooLong);
  Edit("NameEdit")->backspace();  // 4095
  EXPECT_TRUE(Button("NextButton")->isEnabled());
}

TEST_F(NewForm, LeavingTheNameWithPastedTextWarnsAndKeepsTheFocus) {
  OpenWizard();
  QApplication::setActiveWindow(Wizard());
  const struct {
    const char* pasted;
    const char* warning;
  } cases[] = {
      {"a/b", "The name of the job contains invalid characters. Please enter a valid name!"},
      {" ab", "Job names may not start or end with white space. Please enter a valid name!"},
  };
  for (const auto& c : cases) {
    Edit("NameEdit")->setFocus();
    Edit("NameEdit")->setText(c.pasted);
    boxes_.Answer(MessageAnswer::Ok);
    Edit("LocEdit")->setFocus(Qt::TabFocusReason);
    ASSERT_FALSE(boxes_.Messages().empty());
    EXPECT_EQ(boxes_.Messages().back().text, c.warning);
    EXPECT_EQ(boxes_.Messages().back().icon, MessageIcon::Warning);
    EXPECT_TRUE(Edit("NameEdit")->hasFocus());
  }
}

TEST_F(NewForm, BrowseButtonsFillTheFieldsThroughTheFolderChooser) {
  OpenWizard();
  chooser_.Answer(Jobs());
  Click("LocBrowseButton");
  chooser_.Answer(std::nullopt);
  Click("SrcBrowseButton");
  chooser_.Answer("/media/dvd");
  Click("SrcBrowseButton");
  EXPECT_EQ(Edit("LocEdit")->text().toStdString(), Jobs());
  EXPECT_EQ(Edit("SrcEdit")->text(), "/media/dvd");
  ASSERT_EQ(chooser_.Requests().size(), 3u);
  EXPECT_EQ(chooser_.Requests()[0].title, "Select destination folder.");
  EXPECT_TRUE(chooser_.Requests()[0].allow_new_folder);
  EXPECT_EQ(chooser_.Requests()[1].title, "Select the drive or folder containing the DVD files.");
  EXPECT_FALSE(chooser_.Requests()[1].allow_new_folder);
  EXPECT_EQ(chooser_.Requests()[0].owner, Wizard());
}

TEST_F(NewForm, NextShowsTheFirstFailedCheckAndStaysOnPageOne) {
  OpenWizard();
  kv_test::MakeFolders(Jobs() + "/Taken");
  // The empty IFO of bad_empty_ifo with its backup emptied too.
  const std::string no_information = dir_.File("noInformation");
  kv_test::CopySampleDisc("bad_empty_ifo", no_information);
  std::filesystem::resize_file(no_information + "/VIDEO_TS/VTS_01_0.BUP", 0);
  const struct {
    const char* name;
    std::string source;
    const char* error;
  } cases[] = {
      {"Taken", kv_test::SampleDvdRoot() + "/ntsc_film",
       "Job already exists. Change the name or the destination folder!"},
      {"Fresh", Jobs(), "Unable to find a valid DVD title at the specified location!"},
      {"Fresh", no_information, "Unable to find a valid DVD title at the specified location!"},
  };
  for (const auto& c : cases) {
    FillSourcePage(c.name, Jobs(), c.source);
    boxes_.Answer(MessageAnswer::Ok);
    Click("NextButton");
    ASSERT_FALSE(boxes_.Messages().empty());
    EXPECT_EQ(boxes_.Messages().back().text, c.error);
    EXPECT_EQ(boxes_.Messages().back().icon, MessageIcon::Error);
    EXPECT_EQ(NotebookPage(), 0);
  }
}

// Closing on page 1 asks, removes nothing (a folder of the typed name may
// exist) and gives the queue window back; a refusal clears the application's
// closing, and a closing application closes the queue window too.
TEST_F(NewForm, ClosingAsksAndGivesTheQueueWindowBack) {
  OpenWizard();
  kv_test::MakeFolders(Jobs() + "/Taken");
  FillSourcePage("Taken", Jobs(), "/media/dvd");
  app::Shell().ClosingInProgress = true;
  boxes_.Answer(MessageAnswer::No);
  Click("CancelButton");
  EXPECT_TRUE(WizardOpen());
  EXPECT_FALSE(app::Shell().ClosingInProgress);
  EXPECT_EQ(boxes_.Messages().back().text, "Do you really want to close this wizard?");
  EXPECT_EQ(boxes_.Messages().back().icon, MessageIcon::Warning);

  boxes_.Answer(MessageAnswer::Yes);
  CloseWizard();
  EXPECT_FALSE(WizardOpen());
  EXPECT_TRUE(platform::DirectoryExists(Jobs() + "/Taken"));
  EXPECT_TRUE(Window().isEnabled());
  EXPECT_TRUE(Window().isVisible());

  OpenWizard();
  app::Shell().ClosingInProgress = true;
  boxes_.Answer(MessageAnswer::Yes);
  const QPointer<QWidget> queue_window = &Window();
  CloseWizard();
  EXPECT_FALSE(WizardOpen());
  EXPECT_TRUE(queue_window.isNull());  // closed and released
  if (queue_window.isNull()) (void)window_.release();
}

// The wizard is a working window of the application: the hidden main window
// follows its moves, its activation routes a close from outside to it, and
// minimising it takes the whole application down.
TEST_F(NewForm, MovesActivationAndMinimisingReachTheApplication) {
  QWidget main;
  main.setAttribute(Qt::WA_DontShowOnScreen);
  app::Shell().MainWindow = &main;
  OpenWizard();
  Wizard()->move(130, 90);
  kv_test::ServeEventsUntil([&] { return main.pos() == Wizard()->pos(); });
  Wizard()->activateWindow();
  kv_test::ServeEventsUntil([&] { return app::Shell().LastActivatedWindow == Wizard(); });
  Wizard()->showMinimized();
  kv_test::ServeEventsUntil([&] { return Window().isMinimized(); });
  app::Shell().MainWindow = nullptr;
  app::Shell().LastActivatedWindow = nullptr;
}

}  // namespace
