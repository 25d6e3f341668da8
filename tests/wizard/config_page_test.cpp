// The configuration page on the offscreen platform, driven through its
// controls by their object names.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "tests/wizard/config_page_fixture.h"
#include "wizard/config_texts.h"

namespace kv_test {
namespace {

using wizard::CropModeKind;
using wizard::EncodeModeKind;
using wizard::JobSettings;

QString Number(int value) {
  return QString::number(value);
}

// --- streams -------------------------------------------------------------------

TEST_F(ConfigPageTest, StreamListsNameFormatChannelsLanguageAndCommentary) {
  EnterWith("ntsc_multi/1/1");
  auto* tracks = Find<QComboBox>("Audio1TrackCombo");
  ASSERT_EQ(tracks->count(), 3);
  EXPECT_EQ(tracks->itemText(0), "1. Dolby Digital 5.1-ch English ");
  EXPECT_EQ(tracks->itemText(1), QString::fromUtf8("2. LPCM 2-ch Français "));
  EXPECT_EQ(tracks->itemText(2), "3. MPEG-1 2-ch Deutsch (Commentary)");
  EXPECT_FALSE(tracks->itemIcon(0).isNull());
  EXPECT_EQ(Find<QComboBox>("SubLangCombo")->itemText(0), "1. English");
  // The 5.1 source allows every channel mode at the proposed total.
  EXPECT_EQ(Settings().ChannelMode, wizard::ChannelModeKind::Multichannel);
  EXPECT_TRUE(Find<QRadioButton>("Audio1MultiRadio")->isChecked());

  // A stereo track never allows multichannel; its richest mode is Surround.
  tracks->setCurrentIndex(1);
  EXPECT_EQ(Settings().AudioTrack, 1);
  EXPECT_FALSE(Enabled("Audio1MultiRadio"));
  EXPECT_TRUE(Find<QRadioButton>("Audio1SurroundRadio")->isChecked());
  EXPECT_EQ(Settings().ChannelMode, wizard::ChannelModeKind::Surround);
}

// --- the same title again, another title ------------------------------------

TEST_F(ConfigPageTest, BackAndNextKeepsEverythingAnotherTitleResetsTheTitlesSettings) {
  EnterWith("pal_letterbox/1/1");
  Click("EncModeBitrateRadio");
  Type("EncModeBitrateEdit", "1234");
  Leave("EncModeBitrateEdit");
  Click("MiscLossCheck");
  Type("InfoTitleEdit", "Holiday");
  Leave("InfoTitleEdit");
  frame_.NextButton()->setEnabled(false);

  BackAndEnter("pal_letterbox/1/1");
  EXPECT_EQ(Settings().EncodeMode, EncodeModeKind::AverageBitrate);
  EXPECT_EQ(Settings().BitrateKbps, 1234);
  EXPECT_EQ(Edit("EncModeBitrateEdit")->text(), "1234");
  EXPECT_EQ(Settings().Title, "Holiday");
  EXPECT_EQ(Find<QTabWidget>("ConfigTabs")->currentIndex(), 4);
  // The Next button comes back as it was left.
  EXPECT_FALSE(frame_.NextButton()->isEnabled());
  EXPECT_FALSE(frame_.PreviewButton()->isVisible());

  frame_.NextButton()->setEnabled(true);
  Settings().CodecManual = true;
  Settings().rcPFrameRefQuant = 20;
  ASSERT_TRUE(page_->Leave(false));
  EXPECT_EQ(frame_.NextButton()->text(), "Next >");
  EXPECT_FALSE(frame_.NextButton()->font().bold());
  EXPECT_FALSE(frame_.PreviewButton()->isVisible());
  EnterWith("pal_letterbox/1/2");
  EXPECT_EQ(Settings().EncodeMode, EncodeModeKind::FixedSize);
  EXPECT_TRUE(Find<QRadioButton>("EncModeFixedRadio")->isChecked());
  EXPECT_EQ(Find<QTabWidget>("ConfigTabs")->currentIndex(), 0);
  // Kept from title to title: loss protection, the manual codec values and
  // the clip information.
  EXPECT_TRUE(Settings().enableLossProtection);
  EXPECT_EQ(Settings().rcPFrameRefQuant, 20);
  EXPECT_TRUE(Find<QCheckBox>("MiscLossCheck")->isChecked());
  EXPECT_EQ(Settings().Title, "Holiday");
  EXPECT_EQ(Edit("InfoTitleEdit")->text(), "Holiday");
}

// --- number fields -----------------------------------------------------------

struct NumberField {
  const char* edit;
  const char* empty_message;
  const char* invalid_message;
  const char* too_big;      // typed, then left
  const char* shown;        // what the field shows after leaving
  const char* setup;        // a control clicked first to make the field usable
  int JobSettings::*field;  // the setting the field edits, or none
};

const NumberField kNumberFields[] = {
    {"EncModeBitrateEdit", "Please enter an integer greater than 0.",
     "Please enter a valid integer greater than 0.", "99999", "32767", "EncModeBitrateRadio",
     &JobSettings::BitrateKbps},
    {"EncModeQualityEdit", "Please enter an integer between 0 and 100.",
     "Please enter a valid integer between 0 and 100.", "250", "100", "EncModeQualityRadio",
     &JobSettings::QualityPercent},
    {"VolEdit", "Please enter an integer greater than 0.",
     "Please enter a valid integer greater than 0.", "99999", "32767", nullptr,
     &JobSettings::VolumeSizeMB},
    {"VideoResWEdit", "Please enter an integer greater than 0.",
     "Please enter a valid integer greater than 0.", "9999", "2048", "VideoResManuCheck",
     &JobSettings::OutputWidth},
    {"VideoResHEdit", "Please enter an integer greater than 0.",
     "Please enter a valid integer greater than 0.", "9999", "832", "VideoResManuCheck",
     &JobSettings::OutputHeight},
    {"VideoCropTEdit", "Please enter an integer.", "Please enter a valid integer.", "9999", "456",
     "VideoCropManuCheck", nullptr},
    {"VideoCropREdit", "Please enter an integer.", "Please enter a valid integer.", "777", "688",
     "VideoCropManuCheck", nullptr},
    {"EHQ2Edit", "Please enter an integer between 50 and 100.",
     "Please enter a valid integer between 50 and 100.", "200", "100", "EHQCustomCheck",
     &JobSettings::encoderComplexity},
    {"EHQ1Edit", "Please enter an integer between 50 and 100.",
     "Please enter a valid integer between 50 and 100.", "7", "50", "EHQCustomCheck",
     &JobSettings::firstPassComplexity},
};

void PrintTo(const NumberField& field, std::ostream* out) {
  *out << field.edit;
}

class NumberFieldRules : public ConfigPageTest,
                         public ::testing::WithParamInterface<NumberField> {};

TEST_P(NumberFieldRules, RefuseLettersEmptyAndBadNumbersAndHoldTheRange) {
  const NumberField& f = GetParam();
  EnterWith("pal_letterbox/1/1");
  if (f.setup) Click(f.setup);
  if (std::string(f.edit) == "VolEdit") Find<QComboBox>("VolCombo")->setCurrentIndex(0);
  QLineEdit* edit = Edit(f.edit);
  ASSERT_TRUE(edit->isEnabled()) << f.edit;
  const QString before = edit->text();
  const int setting_before = f.field ? Settings().*f.field : 0;

  // Letters and signs are swallowed with a beep.
  Focus(f.edit);
  edit->end(false);
  QTest::keyClicks(edit, "a-");
  EXPECT_EQ(edit->text(), before);
  EXPECT_EQ(sounds_.played.size(), 2u);

  // Pasted text with a letter: its warning, and the focus stays.
  ExpectMessages(2);
  QApplication::clipboard()->setText("12a");
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(edit->text(), "12a");
  Leave(f.edit);
  EXPECT_TRUE(edit->hasFocus());
  // An empty field: the other warning.
  Type(f.edit, "");
  Leave(f.edit);
  EXPECT_TRUE(edit->hasFocus());
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{f.invalid_message, f.empty_message}));
  for (const auto& shown : messages_.Messages())
    EXPECT_EQ(shown.icon, platform::MessageIcon::Warning);
  if (f.field) {
    EXPECT_EQ(Settings().*f.field, setting_before) << "last good value kept";
  }

  // A number beyond the range: leaving shows the up-down's limit.
  Type(f.edit, f.too_big);
  Leave(f.edit);
  EXPECT_FALSE(edit->hasFocus());
  EXPECT_EQ(edit->text(), f.shown);
  EXPECT_EQ(messages_.Messages().size(), 2u);
  if (f.field) {
    EXPECT_EQ(Number(Settings().*f.field), f.shown);
  }
}

INSTANTIATE_TEST_SUITE_P(Fields, NumberFieldRules, ::testing::ValuesIn(kNumberFields),
                         [](const auto& info) { return std::string(info.param.edit); });

TEST_F(ConfigPageTest, WidthTypedFollowsWithHeightAndSnapsWhenLeft) {
  EnterWith("pal_letterbox/1/1");
  Click("VideoCropNoCheck");  // the whole 16:9 picture
  Click("VideoResManuCheck");
  Type("VideoResWEdit", "700");
  EXPECT_EQ(Edit("VideoResHEdit")->text(), "394");
  Leave("VideoResWEdit");
  EXPECT_EQ(Edit("VideoResWEdit")->text(), "700");
  EXPECT_EQ(Edit("VideoResHEdit")->text(), "396");
  EXPECT_EQ(Settings().OutputWidth, 700);
  EXPECT_EQ(Settings().OutputHeight, 396);
  // Typing the height drives the width; leaving fits both to the width.
  Type("VideoResHEdit", "300");
  EXPECT_EQ(Edit("VideoResWEdit")->text(), "533");
  Leave("VideoResHEdit");
  EXPECT_EQ(Edit("VideoResWEdit")->text(), "532");
  EXPECT_EQ(Edit("VideoResHEdit")->text(), "300");
}

TEST_F(ConfigPageTest, CropMarginsKeepEvenValuesAndAtLeast32Pixels) {
  EnterWith("pal_letterbox/1/1");
  EXPECT_EQ(Settings().CropMode, CropModeKind::Auto);
  EXPECT_EQ(Edit("VideoCropBEdit")->text(), "88");
  Click("VideoCropManuCheck");
  Type("VideoCropLEdit", "7");
  EXPECT_EQ(Settings().CropRect.Left, 7);
  Leave("VideoCropLEdit");
  EXPECT_EQ(Edit("VideoCropLEdit")->text(), "6");
  EXPECT_EQ(Settings().CropRect, (wizard::PictureRect{72, 6, 714, 416}));
  EXPECT_EQ(UpDown("VideoCropRUpDown")->Maximum(), 720 - 6 - 32);
  Type("VideoCropBEdit", "100");
  Leave("VideoCropBEdit");
  EXPECT_EQ(UpDown("VideoCropTUpDown")->Maximum(), 576 - 100 - 32);
  // The aspect ratio follows the kept part, and the automatic size with it.
  EXPECT_DOUBLE_EQ(Settings().AspectRatio, (576.0 * 714 * 16) / (720.0 * 404 * 9));
  EXPECT_EQ(Edit("VideoResWEdit")->text(), Number(Settings().OutputWidth));

  // Disable keeps the whole picture; Auto the detected rectangle again.
  Click("VideoCropNoCheck");
  EXPECT_EQ(Settings().CropRect, (wizard::PictureRect{0, 0, 720, 576}));
  EXPECT_EQ(Edit("VideoCropBEdit")->text(), "0");
  EXPECT_FALSE(Enabled("VideoCropBEdit"));
  Click("VideoCropAutoCheck");
  EXPECT_EQ(Settings().CropRect, (wizard::PictureRect{72, 0, 720, 416}));
  EXPECT_EQ(Edit("VideoCropTEdit")->text(), "72");
}

// --- rules between settings ---------------------------------------------------

TEST_F(ConfigPageTest, EncodingModesForceTheirChoices) {
  EnterWith("ntsc_multi/1/1");
  Click("EncModeQualityRadio");
  EXPECT_EQ(Settings().EncodeMode, EncodeModeKind::ConstantQuality);
  EXPECT_TRUE(Find<QRadioButton>("VideoResManuCheck")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("Audio1BitrateManuRadio")->isChecked());
  EXPECT_EQ(Settings().ResizeMode, wizard::ResizeModeKind::Manual);
  EXPECT_FALSE(Settings().AudioBitrateAuto);
  for (const char* name :
       {"VideoResAutoCheck", "Audio1BitrateAutoRadio", "VolNumEdit", "EncModeBitrateEdit"})
    EXPECT_FALSE(Enabled(name)) << name;
  for (const char* name : {"VideoResWEdit", "Audio1BitrateTrack", "EncModeQualityEdit", "VolCheck"})
    EXPECT_TRUE(Enabled(name)) << name;
  // The single-pass list: from 90 + 50 the nearest is 100.
  EXPECT_EQ(Find<QSlider>("EHQTrack")->maximum(), 5);
  EXPECT_EQ(Settings().ComplexityPreset, 5);
  EXPECT_EQ(Edit("EHQ1Edit")->text(), "0");
  EXPECT_FALSE(Find<QCheckBox>("EHQTwoPassCheck")->isChecked());
  Click("VolCheck");
  EXPECT_FALSE(Settings().SplitVolumes);
  EXPECT_FALSE(Enabled("VolCombo"));

  Click("EncModeBitrateRadio");
  EXPECT_EQ(Settings().ComplexityPreset, 4);  // back from 100: 60 + 50
  EXPECT_TRUE(Enabled("VolNumLabel"));
  EXPECT_FALSE(Enabled("VolNumEdit"));
  EXPECT_TRUE(Enabled("VideoResAutoCheck"));

  Click("EncModeFixedRadio");
  EXPECT_TRUE(Find<QCheckBox>("VolCheck")->isChecked());
  EXPECT_TRUE(Settings().SplitVolumes);
  EXPECT_FALSE(Enabled("VolCheck"));
  EXPECT_TRUE(Enabled("VolCombo"));
  EXPECT_TRUE(Enabled("VolNumEdit"));
}

TEST_F(ConfigPageTest, VolumesPresetsAndCountsRecomputeTheTotal) {
  EnterWith("pal_letterbox/1/1");
  auto* presets = Find<QComboBox>("VolCombo");
  ASSERT_EQ(presets->count(), 3);
  EXPECT_EQ(presets->itemText(1), "CD [74 min]");
  presets->setCurrentIndex(1);
  EXPECT_EQ(Edit("VolEdit")->text(), "650");
  EXPECT_FALSE(Enabled("VolEdit"));
  UpDown("VolNumUpDown")->StepUp();
  EXPECT_EQ(Settings().VolumeCount, 2);
  const double total = 2 * 650 * 8388608.0 / Settings().Duration * 0.9905;
  EXPECT_DOUBLE_EQ(Settings().TotalBitrate, std::min(total, 32767.0 * 1024));
  EXPECT_EQ(Edit("EncModeBitrateEdit")->text(), Number(int(Settings().TotalBitrate / 1024)));
  presets->setCurrentIndex(0);
  EXPECT_TRUE(Enabled("VolEdit"));
  Type("VolEdit", "20");
  EXPECT_EQ(Settings().VolumeSizeMB, 20);
  EXPECT_DOUBLE_EQ(Settings().TotalBitrate, 2 * 20 * 8388608.0 / Settings().Duration * 0.9905);
}

TEST_F(ConfigPageTest, SubtitlesAndAutomaticCropNeverGoTogether) {
  HandTitle title = HandTitleNamed("ntsc_multi/1/1");
  wizard::PgcInfo& pgc = title.title_set.Pgcs[1];
  pgc.BorderState = 1;
  pgc.DetectedRect = {60, 0, 720, 360};
  frame_.State().TitleSets[2] = title.title_set;
  frame_.State().SelVts = 2;
  frame_.State().SelPgc = 1;
  page_->Enter();
  ASSERT_TRUE(Find<QRadioButton>("VideoCropAutoCheck")->isChecked());

  Click("SubCheck");
  EXPECT_TRUE(Settings().SubtitlesEnabled);
  EXPECT_TRUE(Find<QRadioButton>("VideoCropNoCheck")->isChecked());
  EXPECT_EQ(Settings().CropMode, CropModeKind::Disabled);
  EXPECT_EQ(Settings().CropRect, (wizard::PictureRect{0, 0, 720, 480}));
  EXPECT_FALSE(Enabled("VideoCropAutoCheck"));
  EXPECT_TRUE(Enabled("SubLangCombo"));
  Click("SubCheck");
  EXPECT_TRUE(Enabled("VideoCropAutoCheck"));

  // Without borders Auto stays disabled after the subtitles are off again.
  EnterWith("ntsc_multi/1/1");
  Click("SubCheck");
  Click("SubCheck");
  EXPECT_FALSE(Enabled("VideoCropAutoCheck"));
}

TEST_F(ConfigPageTest, ComplexityAudioGainAndTruSpeedReachTheSettings) {
  EnterWith("pal_letterbox/1/1");
  Find<QSlider>("EHQTrack")->setValue(2);  // 70, single pass
  EXPECT_FALSE(Settings().TwoPass);
  EXPECT_FALSE(Settings().rcEnableCurveCompression);
  EXPECT_EQ(Edit("EHQ1Edit")->text(), "0");
  EXPECT_FALSE(Enabled("EHQ1Label1"));
  Find<QSlider>("EHQTrack")->setValue(8);  // 100, 50
  EXPECT_TRUE(Settings().TwoPass);
  EXPECT_EQ(Edit("EHQ2Edit")->text(), "100");
  Click("EHQCustomCheck");
  EXPECT_FALSE(Enabled("EHQTrack"));
  EXPECT_TRUE(Enabled("EHQ1Edit"));
  Type("EHQ2Edit", "77");
  Leave("EHQ2Edit");
  EXPECT_EQ(Settings().encoderComplexity, 77);
  Click("EHQTwoPassCheck");
  EXPECT_FALSE(Settings().TwoPass);
  EXPECT_EQ(Edit("EHQ1Edit")->text(), "0");
  EXPECT_FALSE(Enabled("EHQ1Edit"));

  Click("Audio1BitrateManuRadio");
  EXPECT_FALSE(Settings().AudioBitrateAuto);
  auto* rate = Find<QSlider>("Audio1BitrateTrack");
  ASSERT_TRUE(rate->isEnabled());
  rate->setValue(0);
  EXPECT_EQ(Settings().AudioCodecRow, 0);
  EXPECT_EQ(Settings().AudioBitrate, Settings().AudioCodecRows->front().Kbps * 1024.0);
  EXPECT_EQ(Find<QLabel>("Audio1BitrateLabel")->text(),
            Number(Settings().AudioCodecRows->front().Kbps) + " Kbps");
  Click("Audio1GainCheck");
  EXPECT_TRUE(Settings().GainEnabled);
  Find<QSlider>("Audio1GainTrack")->setValue(-60);
  EXPECT_EQ(Settings().GainStep, -60);
  EXPECT_TRUE(Enabled("Audio1GainLabel2"));

  Click("VideoTruCheck");
  EXPECT_EQ(Settings().FrameRate, 24.0f);
  EXPECT_EQ(Find<QTreeWidget>("VideoInfoList")->topLevelItem(3)->text(1), "24.00 fps");
  EXPECT_EQ(Find<QTreeWidget>("VideoInfoList")->topLevelItem(5)->text(1), "00:00:12");
}

// --- clip information -----------------------------------------------------------

TEST_F(ConfigPageTest, ClipTextsRefuseCharactersTheJobFileCannotHold) {
  EnterWith("pal_letterbox/1/1");
  Find<QTabWidget>("ConfigTabs")->setCurrentIndex(4);
  char year[8];
  const std::time_t now = std::time(nullptr);
  std::strftime(year, sizeof year, "%Y", std::localtime(&now));
  EXPECT_EQ(Edit("InfoCopyEdit")->text(), QString("(C) ") + year);
  EXPECT_EQ(Find<QComboBox>("InfoRatingCombo")->itemText(5), "Adult Supervision Recommanded");

  Type("InfoWordsEdit", "rock & <roll>");
  EXPECT_EQ(Edit("InfoWordsEdit")->text(), "rock  roll");
  EXPECT_EQ(sounds_.played.size(), 3u);
  Leave("InfoWordsEdit");
  EXPECT_EQ(Settings().Keywords, "rock  roll");

  ExpectMessages(1);
  QApplication::clipboard()->setText("Tom & Jerry");
  Focus("InfoTitleEdit");
  QTest::keyClick(Edit("InfoTitleEdit"), Qt::Key_V, Qt::ControlModifier);
  Leave("InfoTitleEdit");
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{
                "This text contains invalid characters. Please enter a valid text!"}));
  EXPECT_TRUE(Edit("InfoTitleEdit")->hasFocus());
  EXPECT_EQ(Settings().Title, "") << "a refused text never reaches the settings";

  auto* memo = Find<QPlainTextEdit>("InfoDescMemo");
  memo->setPlainText(QString(1100, 'x'));
  EXPECT_EQ(memo->toPlainText().size(), 1023);
  EXPECT_EQ(Settings().Description.size(), 1023u);
  Find<QComboBox>("InfoRatingCombo")->setCurrentIndex(6);
  EXPECT_EQ(Settings().Rating, 6);
}

// --- preview and the crop dialog ----------------------------------------------

TEST_F(ConfigPageTest, PreviewStartsThePlayerOnTheWrittenScript) {
  frame_.host.program_folder = "/opt/kestrevane/";
  EnterWith("ntsc_multi/1/1");
  std::vector<std::string> written;
  page_->SetPreviewScriptWriter([&](wizard::WizardState& state) {
    written.push_back(state.PreviewScriptPath);
    return true;
  });
  QTest::mouseClick(frame_.PreviewButton(), Qt::LeftButton);
  EXPECT_EQ(written, std::vector<std::string>{"/jobs/Test/.kvnj/preview.avs"});
  ASSERT_EQ(shell_.programs.size(), 1u);
  EXPECT_EQ(shell_.programs[0].program, "/opt/kestrevane/mplayer2");
  EXPECT_EQ(shell_.programs[0].arguments, std::vector<std::string>{"preview.avs"});
  EXPECT_EQ(shell_.programs[0].working_folder, "/jobs/Test/.kvnj/");
  EXPECT_TRUE(messages_.Messages().empty());

  // A script that cannot be written, or a player that does not start.
  ExpectMessages(2);
  page_->SetPreviewScriptWriter([](wizard::WizardState&) { return false; });
  QTest::mouseClick(frame_.PreviewButton(), Qt::LeftButton);
  page_->SetPreviewScriptWriter([](wizard::WizardState&) { return true; });
  shell_.result = false;
  QTest::mouseClick(frame_.PreviewButton(), Qt::LeftButton);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>(2, "Unable to preview selected title!"));
  EXPECT_EQ(messages_.Messages()[0].icon, platform::MessageIcon::Error);
  EXPECT_EQ(shell_.programs.size(), 2u);
}

TEST_F(ConfigPageTest, AdjustReportsATitleThatCannotBeOpened) {
  EnterWith("pal_letterbox/1/1");
  Click("VideoCropManuCheck");
  int opened = 0;
  page_->SetCropDialogOpener([&](wizard::ConfigPage&) { return ++opened > 1; });
  ExpectMessages(1);
  Click("VideoCropAdjButton");
  Click("VideoCropAdjButton");
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Unable to view selected title!"});
  EXPECT_EQ(messages_.Messages()[0].icon, platform::MessageIcon::Error);
}

}  // namespace
}  // namespace kv_test
