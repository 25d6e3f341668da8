// Finish through the real wizard over a queue window: a sample disc analysed,
// its longest title prepared, the job written and queued; and the failures,
// which leave no job folder behind. Every path releases the wizard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <set>

#include "app/shell_state.h"
#include "platform/file_system.h"
#include "queue/job_file.h"
#include "tests/support/sample_dvds.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/job_writer.h"
#include "wizard/title_page.h"

namespace {

namespace fs = std::filesystem;
using platform::MessageAnswer;
using platform::MessageIcon;
using Names = std::set<std::string>;

constexpr const char* kPlugins[] = {"qmvideo.dll",     "Decomb.dll",      "VSFilter.dll",
                                    "qmaudio_ac3.dll", "qmaudio_dts.dll", "qmaudio_mpa.dll",
                                    "qmaudio_lpcm.dll"};

class FinishTest : public kv_test::WizardTest {
 public:
  FinishTest() {
    // Plug-ins of a program folder of their own: the copies are told apart.
    for (const char* plugin : kPlugins) kv_test::WriteFile(Program() + plugin, plugin);
    app::Shell().ProgramFolder = Program();
  }
  ~FinishTest() override { app::ResetShell(); }

  std::string Program() { return dir_.File("program/"); }
  std::string Data() { return Jobs() + "/Job/.kvnj/"; }
  Names DataFiles() {
    Names names;
    for (const auto& entry : fs::directory_iterator(Data()))
      names.insert(entry.path().filename().string());
    return names;
  }

  // New Job on `disc` up to page `last` (the configuration page with the
  // longest title).
  void WalkToConfigPage(const std::string& disc,
                        wizard::WizardPageIndex last = wizard::kConfigPage) {
    OpenWizard();
    StartAnalysis(kv_test::SampleDvdRoot() + "/" + disc);
    WaitForAnalysis();
    ASSERT_TRUE(WizardOpen());
    ASSERT_TRUE(Wizard()->State().AnalysisDone);
    if (last == wizard::kAnalysisPage) return;
    Click("NextButton");
    ASSERT_EQ(Wizard()->CurrentPage(), wizard::kTitlePage);
    if (last == wizard::kTitlePage) return;
    Click("NextButton");
    static_cast<wizard::TitlePage*>(Wizard()->Page(wizard::kTitlePage))->WaitForPreparation();
    kv_test::ServeEventsUntil([this] { return Wizard()->CurrentPage() == wizard::kConfigPage; });
    ASSERT_EQ(Button("NextButton")->text(), "Finish");
  }

  // Finish, and the event loop until the wizard has gone.
  void ClickFinish() {
    Click("NextButton");
    SettleDeletes();
    EXPECT_FALSE(WizardOpen());
    EXPECT_TRUE(Window().isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
};

// The job holds the files the analysis and the preparation left, plus one
// script and one encoder job file per volume, the plug-ins the scripts load
// (copied from the program folder), the renamed sub-picture data and the
// first JobFile; the queue window lists it as pending.
TEST_F(FinishTest, QueuesACompleteJobAndReleasesTheWizard) {
  WalkToConfigPage("ntsc_multi");
  if (HasFailure()) return;
  auto* subtitles = Find<QCheckBox>("SubCheck");
  ASSERT_TRUE(Wizard()->State().Settings.HasSubtitles);
  if (!subtitles->isChecked()) QTest::mouseClick(subtitles, Qt::LeftButton);
  Edit("VolNumEdit")->setText("3");
  const wizard::WizardState state = Wizard()->State();
  const wizard::JobSettings& s = state.Settings;
  ASSERT_TRUE(s.SubtitlesEnabled);
  ASSERT_TRUE(s.HasAudio);
  const int n = wizard::VolumeCountOf(s);
  ASSERT_EQ(n, 3);
  const int stream = s.Facts.SubtitleStreams.at(static_cast<size_t>(s.SubtitleTrack)).StreamNumber;
  const std::string analysed_sub = state.TitleSets[state.SelVts].SubtitleFiles[stream];
  const std::string renamed_sub = wizard::SubtitleDataFileName(state.TitleKey, stream);
  ASSERT_NE(analysed_sub, renamed_sub);

  Names expected = DataFiles();
  ASSERT_EQ(expected.erase(analysed_sub), 1u);
  expected.insert(renamed_sub);
  expected.insert(".kvnj");
  for (int k = 1; k <= n; ++k) {
    expected.insert(wizard::VolumeScriptName(k));
    expected.insert(wizard::VolumeJobFileName(k));
  }
  const std::vector<std::string> plugins = wizard::PluginFilesOf(s);
  EXPECT_EQ(std::count(plugins.begin(), plugins.end(), "VSFilter.dll"), 1);
  expected.insert(plugins.begin(), plugins.end());
  const std::string sub_bytes = kv_test::ReadFile(Data() + analysed_sub);

  ClickFinish();
  EXPECT_TRUE(boxes_.Messages().empty());
  EXPECT_EQ(DataFiles(), expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(Jobs() + "/Job"), {}), 1);  // just ".kvnj"
  EXPECT_EQ(kv_test::ReadFile(Data() + renamed_sub), sub_bytes);
  for (const std::string& plugin : plugins) EXPECT_EQ(kv_test::ReadFile(Data() + plugin), plugin);
  for (int k = 1; k <= n; ++k) {
    EXPECT_EQ(kv_test::ReadFile(Data() + wizard::VolumeScriptName(k)),
              wizard::FormatScript(s, state.TitleKey, k, false));
  }
  const auto job = queue::ReadJobFileLines(queue::JobFilePathOf(Jobs() + "/Job"));
  ASSERT_TRUE(job);
  EXPECT_EQ(job->name, "Job");
  EXPECT_EQ(job->progress, "0 / " + std::to_string(n));
  EXPECT_EQ(job->time, "--");

  // In the queue window's list and the registry, ready to run.
  ASSERT_EQ(Window().Jobs().Jobs().size(), 1u);
  EXPECT_EQ(Window().Jobs().Jobs()[0].Path, Jobs() + "/Job");
  EXPECT_EQ(StateOf(0), queue::JobState::Pending);
  EXPECT_EQ(Window().findChild<QTreeWidget*>("JobList")->topLevelItemCount(), 1);
  EXPECT_EQ(RegistryNames(), std::vector<std::string>{"Job"});
}

// Each failure of the writer: said once, the job folder removed, nothing
// queued, the wizard released.
TEST_F(FinishTest, FailuresLeaveNoJobFolderAndReleaseTheWizard) {
  const struct {
    const char* name;
    void (*spoil)(FinishTest&);
  } cases[] = {
      {"a plug-in missing from the program folder",
       [](FinishTest& t) { fs::remove(t.Program() + "qmvideo.dll"); }},
      {"the JobFile cannot be created",
       [](FinishTest& t) { kv_test::MakeFolders(t.Data() + ".kvnj"); }},
      {"a script cannot be created",
       [](FinishTest& t) { kv_test::MakeFolders(t.Data() + "out01.avs"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WalkToConfigPage("pal_sync");
    if (HasFailure()) return;
    c.spoil(*this);
    boxes_.Answer(MessageAnswer::Ok);
    const size_t before = boxes_.Messages().size();
    ClickFinish();
    ASSERT_EQ(boxes_.Messages().size(), before + 1);
    EXPECT_EQ(boxes_.Messages().back().text, "Unable to save job!");
    EXPECT_EQ(boxes_.Messages().back().icon, MessageIcon::Error);
    EXPECT_FALSE(fs::exists(Jobs() + "/Job"));
    EXPECT_TRUE(Window().Jobs().Jobs().empty());
    kv_test::WriteFile(Program() + "qmvideo.dll", "qmvideo.dll");
  }
}

// Past page 1 the wizard owns the job folder: closing asks, No keeps both
// (and clears the application's closing), Yes removes the folder and gives
// the queue window back.
TEST_F(FinishTest, ClosingAfterTheAnalysisRemovesTheJobFolderOnYes) {
  for (wizard::WizardPageIndex page :
       {wizard::kAnalysisPage, wizard::kTitlePage, wizard::kConfigPage}) {
    SCOPED_TRACE(page);
    WalkToConfigPage("ntsc_film", page);
    if (HasFailure()) return;
    app::Shell().ClosingInProgress = true;
    boxes_.Answer(MessageAnswer::No);
    Click("CancelButton");
    ASSERT_TRUE(WizardOpen());
    EXPECT_EQ(boxes_.Messages().back().text, "Do you really want to close this wizard?");
    EXPECT_FALSE(app::Shell().ClosingInProgress);
    EXPECT_TRUE(fs::exists(Data()));
    boxes_.Answer(MessageAnswer::Yes);
    CloseWizard();
    EXPECT_FALSE(WizardOpen());
    EXPECT_FALSE(fs::exists(Jobs() + "/Job"));
    EXPECT_TRUE(Window().isEnabled());
  }
}

}  // namespace
