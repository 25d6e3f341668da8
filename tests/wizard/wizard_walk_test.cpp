// The whole wizard on the offscreen platform over a queue window: every
// sample disc analysed, its longest title chosen and prepared, the
// configuration page set up for it, changed, left and entered again; the
// crop dialog and the preview player started from the page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <filesystem>

#include "app/shell_state.h"
#include "decoder/video_decoder.h"
#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/config_page.h"
#include "wizard/job_writer.h"
#include "wizard/new_crop_form.h"
#include "wizard/title_page.h"

namespace {

namespace fs = std::filesystem;
using platform::MessageAnswer;

class WizardWalk : public kv_test::WizardTest {
 protected:
  int NotebookPage() { return Find<QStackedWidget>("Notebook")->currentIndex(); }
  wizard::WizardState& State() { return Wizard()->State(); }
  const wizard::JobSettings& Settings() { return State().Settings; }
  // Next on the title page, and the preparation it starts until its end.
  void NextToConfiguration() {
    Click("NextButton");
    Find<wizard::TitlePage>("Step3")->WaitForPreparation();
  }
  // From page 1 to the title page over `disc` for a job `name` (the disc's
  // name unless given); false when the analysis accepts none of its title
  // sets (the wizard then closes).
  bool AnalyseAndChoose(const std::string& disc, const std::string& name = "") {
    StartAnalysis(kv_test::SampleDvdRoot() + "/" + disc, name.empty() ? disc : name);
    WaitForAnalysis();
    if (!WizardOpen() || !State().AnalysisDone) return false;
    Click("NextButton");
    return NotebookPage() == wizard::kTitlePage;
  }
  void TypeInto(const char* edit, const QString& text) {
    QLineEdit* field = Edit(edit);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
  }
};

TEST_F(WizardWalk, EverySampleDiscReachesTheConfigurationPage) {
  if (!fs::is_directory(kv_test::SampleDvdRoot())) GTEST_SKIP() << "no sample discs";
  std::vector<std::string> discs;
  for (const auto& entry : fs::directory_iterator(kv_test::SampleDvdRoot()))
    if (fs::is_directory(entry.path() / "VIDEO_TS")) discs.push_back(entry.path().filename());
  std::sort(discs.begin(), discs.end());
  int walked = 0;
  for (const std::string& disc : discs) {
    SCOPED_TRACE(disc);
    if (!WizardOpen()) OpenWizard();
    // Taken by the failure box of a disc the analysis refuses, else by the
    // close question at the end.
    boxes_.Answer(MessageAnswer::Yes);
    const size_t shown = boxes_.Messages().size();
    if (!AnalyseAndChoose(disc)) continue;
    ++walked;
    const wizard::TitleChoice chosen = State().Selection();
    ASSERT_TRUE(Button("NextButton")->isEnabled());
    NextToConfiguration();
    ASSERT_EQ(NotebookPage(), wizard::kConfigPage);
    EXPECT_EQ(LabelText("HeaderTitle"), "Configuration");
    EXPECT_EQ(Button("NextButton")->text(), "Finish");
    EXPECT_TRUE(Button("PreviewButton")->isVisible());
    EXPECT_TRUE(State().SelectedPgc().Prepared(chosen.Angle));
    EXPECT_EQ(State().PreparedTitle, chosen);
    EXPECT_FALSE(decoder::VideoIsOpen());
    EXPECT_TRUE(Wizard()->isEnabled());

    // The proposal is the model's for the prepared title's facts.
    wizard::JobSettings expected;
    expected.InitialiseForTitle(wizard::FactsForTitle(State().SelectedTitleSet(), State().SelPgc));
    EXPECT_EQ(Settings().BitrateKbps, expected.BitrateKbps);
    EXPECT_EQ(Settings().VolumeCount, expected.VolumeCount);
    EXPECT_EQ(Settings().CropRect, expected.CropRect);
    EXPECT_EQ(Settings().OutputWidth, expected.OutputWidth);
    EXPECT_EQ(Settings().OutputHeight, expected.OutputHeight);
    EXPECT_EQ(Edit("EncModeBitrateEdit")->text(), QString::number(expected.BitrateKbps));

    // A change survives Back and Next with the same title.
    QTest::mouseClick(Find<QRadioButton>("EncModeQualityRadio"), Qt::LeftButton);
    TypeInto("EncModeQualityEdit", "61");
    ASSERT_EQ(Settings().QualityPercent, 61);
    Click("BackButton");
    ASSERT_EQ(NotebookPage(), wizard::kTitlePage);
    EXPECT_TRUE(State().PreviewOpen);
    NextToConfiguration();
    ASSERT_EQ(NotebookPage(), wizard::kConfigPage);
    EXPECT_EQ(Settings().EncodeMode, wizard::EncodeModeKind::ConstantQuality);
    EXPECT_EQ(Settings().QualityPercent, 61);
    EXPECT_EQ(Edit("EncModeQualityEdit")->text(), "61");

    CloseWizard();
    EXPECT_FALSE(WizardOpen());
    ASSERT_EQ(boxes_.Messages().size(), shown + 1);
    EXPECT_EQ(boxes_.Messages().back().text, "Do you really want to close this wizard?");
  }
  EXPECT_GE(walked, 6);
}

TEST_F(WizardWalk, CropDialogAndPreviewFromTheConfigurationPage) {
  if (!fs::is_directory(kv_test::SampleDvdRoot())) GTEST_SKIP() << "no sample discs";
  OpenWizard();
  ASSERT_TRUE(AnalyseAndChoose("pal_letterbox"));
  NextToConfiguration();
  ASSERT_EQ(NotebookPage(), wizard::kConfigPage);
  const int top = std::stoi(kv_test::SampleFact("pal_letterbox", "bars_top"));
  EXPECT_EQ(Settings().CropRect.Top, top);

  Find<QTabWidget>("ConfigTabs")->setCurrentIndex(1);
  QTest::mouseClick(Find<QRadioButton>("VideoCropManuCheck"), Qt::LeftButton);
  Click("VideoCropAdjButton");
  wizard::TKVNNewCropForm* crop = nullptr;
  for (QWidget* window : QApplication::topLevelWidgets())
    if (auto* form = qobject_cast<wizard::TKVNNewCropForm*>(window); form && form->isVisible())
      crop = form;
  ASSERT_NE(crop, nullptr);
  EXPECT_FALSE(Wizard()->isEnabled());
  EXPECT_EQ(crop->VideoCropTEdit->text(), QString::number(top));
  crop->VideoCropLUpDown->SetPosition(16);
  QTest::mouseClick(crop->OKButton, Qt::LeftButton);
  SettleDeletes();
  EXPECT_TRUE(Wizard()->isEnabled());
  EXPECT_FALSE(decoder::VideoIsOpen());
  EXPECT_EQ(Edit("VideoCropLEdit")->text(), "16");
  EXPECT_EQ(Settings().CropRect.Left, 16);
  EXPECT_EQ(Settings().CropRect.Width, 720 - 16);
  EXPECT_EQ(Settings().CropRect.Top, top);

  // Preview writes the script and the plug-ins it loads into the job's
  // data folder and starts the program folder's player there.
  const std::string program = dir_.File("program/");
  fs::create_directories(program);
  const std::vector<std::string> plugins = wizard::PluginFilesOf(Settings());
  for (const std::string& plugin : plugins) kv_test::WriteFile(program + plugin, plugin);
  const std::string saved_program_folder = app::Shell().ProgramFolder;
  app::Shell().ProgramFolder = program;
  Click("PreviewButton");
  app::Shell().ProgramFolder = saved_program_folder;
  ASSERT_EQ(shell_.programs.size(), 1u);
  const auto& started = shell_.programs[0];
  EXPECT_EQ(started.program, program + "mplayer2");
  EXPECT_EQ(started.arguments, std::vector<std::string>{"preview.avs"});
  EXPECT_EQ(started.working_folder, State().JobDataFolder);
  EXPECT_NE(kv_test::ReadFile(State().JobDataFolder + "preview.avs").find("qmvideo"),
            std::string::npos);
  for (const std::string& plugin : plugins)
    EXPECT_EQ(kv_test::ReadFile(State().JobDataFolder + plugin), plugin);
  EXPECT_TRUE(boxes_.Messages().empty());

  // Closing the wizard on the title page closes its preview.
  Click("BackButton");
  ASSERT_EQ(NotebookPage(), wizard::kTitlePage);
  EXPECT_TRUE(decoder::VideoIsOpen());
  boxes_.Answer(MessageAnswer::Yes);
  CloseWizard();
  EXPECT_FALSE(WizardOpen());
  EXPECT_FALSE(decoder::VideoIsOpen());
}

// The window system delivers a close to the wizard while one of its dialogs
// has it greyed. The wizard then first closes the dialog as its Cancel does
// (the crop dialog lets go of the decoder's title), so that no dialog works
// on a wizard that is gone; refused, the dialog stays open over it.
TEST_F(WizardWalk, ClosingTheWizardFirstClosesItsOpenDialog) {
  if (!fs::is_directory(kv_test::SampleDvdRoot())) GTEST_SKIP() << "no sample discs";
  enum class Way { CloseBox, ApplicationClose, QueueWindowGone };
  const struct {
    const char* button;
    const char* dialog;
    Way way;
  } cases[] = {
      {"VideoCropAdjButton", "TKVNNewCropForm", Way::CloseBox},
      {"VideoCropAdjButton", "TKVNNewCropForm", Way::ApplicationClose},
      {"VideoCropAdjButton", "TKVNNewCropForm", Way::QueueWindowGone},
      {"VideoFiltersButton", "TKVNNewFiltersForm", Way::CloseBox},
      {"VideoCodecButton", "TKVNNewCodecForm", Way::CloseBox},
  };
  int job = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dialog << " " << static_cast<int>(c.way));
    OpenWizard();
    ASSERT_TRUE(AnalyseAndChoose("pal_letterbox", "Job" + std::to_string(++job)));
    NextToConfiguration();
    ASSERT_EQ(NotebookPage(), wizard::kConfigPage);
    Find<QTabWidget>("ConfigTabs")->setCurrentIndex(1);
    if (std::string(c.button) == "VideoCropAdjButton")
      QTest::mouseClick(Find<QRadioButton>("VideoCropManuCheck"), Qt::LeftButton);
    Click(c.button);
    QPointer<QWidget> dialog;
    for (QWidget* window : QApplication::topLevelWidgets())
      if (window->objectName() == c.dialog && window->isVisible()) dialog = window;
    ASSERT_FALSE(dialog.isNull());
    ASSERT_FALSE(Wizard()->isEnabled());
    const bool crop = std::string(c.dialog) == "TKVNNewCropForm";
    EXPECT_EQ(decoder::VideoIsOpen(), crop);
    const std::string job_folder = State().JobFolder;

    switch (c.way) {
      case Way::CloseBox:
        boxes_.Answer(MessageAnswer::No);
        Wizard()->close();
        ASSERT_TRUE(WizardOpen());
        EXPECT_TRUE(dialog && dialog->isVisible());
        EXPECT_EQ(decoder::VideoIsOpen(), crop);
        boxes_.Answer(MessageAnswer::Yes);
        CloseWizard();
        EXPECT_FALSE(fs::exists(job_folder));
        break;
      case Way::ApplicationClose: {
        app::Shell().ClosingInProgress = true;
        boxes_.Answer(MessageAnswer::Yes);
        const QPointer<QWidget> queue_window = &Window();
        CloseWizard();
        EXPECT_TRUE(queue_window.isNull());  // closed and released with the application
        if (queue_window.isNull()) (void)window_.release();
        app::Shell().ClosingInProgress = false;
        break;
      }
      case Way::QueueWindowGone:
        window_.reset();  // the wizard goes with its owner
        SettleDeletes();
        break;
    }
    EXPECT_FALSE(WizardOpen());
    EXPECT_TRUE(dialog.isNull() || !dialog->isVisible());
    EXPECT_FALSE(decoder::VideoIsOpen());
    delete dialog.data();  // left behind, it must not touch the wizard
  }
}

}  // namespace
