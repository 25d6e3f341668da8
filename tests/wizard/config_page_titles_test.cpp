// The configuration page over the sample discs analysed and their titles
// prepared for real (index runs, title cuts, frame counts, border detection):
// what it proposes, what it shows, and the crop dialog on a real frame.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <array>

#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/analysed_disc.h"
#include "tests/wizard/config_page_fixture.h"
#include "wizard/config_texts.h"
#include "wizard/crop_rules.h"
#include "wizard/new_crop_form.h"
#include "wizard/title_preparation.h"

namespace kv_test {

void PrintTo(const SampleTitle& title, std::ostream* out) {
  *out << TitleName(title);
}

namespace {

using wizard::EncodeModeKind;
using wizard::JobSettings;

QString Number(int value) {
  return QString::number(value);
}

class PreparedTitle : public ConfigPageTest {
 protected:
  // Analyses the title's disc, prepares the title as the title page does
  // and enters the page with it.
  void EnterPrepared(const SampleTitle& t) {
    wizard::WizardState& state = frame_.State();
    ASSERT_GT(AnalyseSampleDisc(t.disc, root_.File(t.disc), state), 0);
    state.SelVts = t.vts;
    state.SelPgc = t.pgc;
    state.SelAngle = 0;
    const wizard::PreparationResult result =
        wizard::PrepareTitle(wizard::PreparationInputFor(state));
    ASSERT_TRUE(result.Ok) << result.Error;
    wizard::ApplyPreparation(state, state.Selection(), result);
    state.SelectionChanged = true;
    page_->Enter();
  }

  TempDir root_{"config-page"};
};

class EverySampleTitle : public PreparedTitle, public ::testing::WithParamInterface<SampleTitle> {};

// Facts of two program chains compared field by field.
void ExpectSameFacts(const wizard::TitleFacts& a, const wizard::TitleFacts& b) {
  EXPECT_EQ(a.PictureWidth, b.PictureWidth);
  EXPECT_EQ(a.PictureHeight, b.PictureHeight);
  EXPECT_EQ(a.Widescreen, b.Widescreen);
  EXPECT_EQ(a.PalVideo, b.PalVideo);
  EXPECT_FLOAT_EQ(a.VideoFrameRate, b.VideoFrameRate);
  EXPECT_EQ(a.Progressive, b.Progressive);
  EXPECT_EQ(a.FieldOrderTop, b.FieldOrderTop);
  EXPECT_NEAR(a.FilmShare, b.FilmShare, 1.0);
  EXPECT_EQ(a.PgcFrameCount, b.PgcFrameCount);
  EXPECT_EQ(a.BorderState, b.BorderState);
  EXPECT_EQ(a.DetectedRect, b.DetectedRect);
  ASSERT_EQ(a.AudioStreams.size(), b.AudioStreams.size());
  for (size_t i = 0; i < a.AudioStreams.size(); ++i) {
    EXPECT_EQ(a.AudioStreams[i].Format, b.AudioStreams[i].Format) << i;
    EXPECT_EQ(a.AudioStreams[i].Channels, b.AudioStreams[i].Channels) << i;
    EXPECT_EQ(a.AudioStreams[i].Language, b.AudioStreams[i].Language) << i;
    EXPECT_EQ(a.AudioStreams[i].CodeExtension, b.AudioStreams[i].CodeExtension) << i;
  }
  ASSERT_EQ(a.SubtitleStreams.size(), b.SubtitleStreams.size());
  for (size_t i = 0; i < a.SubtitleStreams.size(); ++i)
    EXPECT_EQ(a.SubtitleStreams[i].Language, b.SubtitleStreams[i].Language) << i;
}

TEST_P(EverySampleTitle, ProposesWhatJobSettingsComputesAndShowsIt) {
  const SampleTitle& t = GetParam();
  EnterPrepared(t);
  if (HasFailure()) return;
  const wizard::WizardState& state = frame_.State();
  const wizard::TitleFacts facts = wizard::FactsForTitle(state.SelectedTitleSet(), t.pgc);
  JobSettings expected;
  expected.InitialiseForTitle(facts);
  const JobSettings& s = Settings();

  // The settings: exactly what the model proposes for the title's facts.
  EXPECT_EQ(s.EncodeMode, EncodeModeKind::FixedSize);
  EXPECT_EQ(s.BitrateKbps, expected.BitrateKbps);
  EXPECT_EQ(s.TotalBitrate, expected.TotalBitrate);
  EXPECT_EQ(s.VolumePreset, expected.VolumePreset);
  EXPECT_EQ(s.VolumeSizeMB, expected.VolumeSizeMB);
  EXPECT_EQ(s.VolumeCount, expected.VolumeCount);
  EXPECT_EQ(s.MinimumBitrateKbps, expected.MinimumBitrateKbps);
  EXPECT_EQ(s.MinimumVolumeSizeMB, expected.MinimumVolumeSizeMB);
  EXPECT_EQ(s.ChannelMode, expected.ChannelMode);
  EXPECT_EQ(s.AudioCodecRow, expected.AudioCodecRow);
  EXPECT_EQ(s.AudioBitrate, expected.AudioBitrate);
  EXPECT_EQ(s.CropMode, expected.CropMode);
  EXPECT_EQ(s.CropRect, expected.CropRect);
  EXPECT_EQ(s.AspectRatio, expected.AspectRatio);
  EXPECT_EQ(s.OutputWidth, expected.OutputWidth);
  EXPECT_EQ(s.OutputHeight, expected.OutputHeight);
  EXPECT_EQ(s.FrameRate, expected.FrameRate);
  EXPECT_EQ(s.FrameCount, expected.FrameCount);
  EXPECT_EQ(s.Ivtc, expected.Ivtc);
  EXPECT_EQ(s.IvtcComplex, expected.IvtcComplex);
  EXPECT_EQ(s.Deinterlace, expected.Deinterlace);
  EXPECT_EQ(s.ComplexityPreset, 7);
  EXPECT_TRUE(s.TwoPass);
  EXPECT_EQ(s.encoderComplexity, 90);
  EXPECT_EQ(s.firstPassComplexity, 50);
  EXPECT_EQ(frame_.State().PreparedTitle, frame_.State().Selection());

  // What the controls show agrees with the settings.
  EXPECT_EQ(Edit("EncModeBitrateEdit")->text(), Number(s.BitrateKbps));
  EXPECT_EQ(Edit("EncModeQualityEdit")->text(), "85");
  EXPECT_EQ(Find<QComboBox>("VolCombo")->currentIndex(), s.VolumePreset);
  EXPECT_EQ(Edit("VolEdit")->text(), Number(s.VolumeSizeMB));
  EXPECT_EQ(Edit("VolNumEdit")->text(), Number(s.VolumeCount));
  EXPECT_EQ(Edit("VideoResWEdit")->text(), Number(s.OutputWidth));
  EXPECT_EQ(Edit("VideoResHEdit")->text(), Number(s.OutputHeight));
  EXPECT_EQ(Edit("VideoCropTEdit")->text(), Number(s.CropRect.Top));
  EXPECT_EQ(Edit("VideoCropBEdit")->text(),
            Number(facts.PictureHeight - s.CropRect.Top - s.CropRect.Height));
  EXPECT_EQ(Edit("EHQ1Edit")->text(), "50");
  EXPECT_EQ(Edit("EHQ2Edit")->text(), "90");
  EXPECT_EQ(Find<QSlider>("EHQTrack")->value(), 7);
  auto* info = Find<QTreeWidget>("VideoInfoList");
  const wizard::StreamInfoRows rows = wizard::StreamInformation(facts, s);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(info->topLevelItem(i)->text(0), rows[i].first);
    EXPECT_EQ(info->topLevelItem(i)->text(1).toStdString(), rows[i].second);
  }
  auto* tabs = Find<QTabWidget>("ConfigTabs");
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(tabs->isTabVisible(2), s.HasAudio);
  EXPECT_EQ(tabs->isTabVisible(3), s.HasSubtitles);
  if (const wizard::AudioCodecEntry* row = s.ChosenAudioCodecRow()) {
    EXPECT_EQ(Find<QLabel>("Audio1BitrateLabel")->text(), Number(row->Kbps) + " Kbps");
  }
  EXPECT_EQ(Find<QComboBox>("Audio1TrackCombo")->count(), int(facts.AudioStreams.size()));
  // The Summary sheet shows the clip information the job file will carry.
  EXPECT_EQ(Edit("InfoTitleEdit")->text().toStdString(), s.Title);
  EXPECT_EQ(Edit("InfoAuthorEdit")->text().toStdString(), s.Author);
  EXPECT_EQ(Edit("InfoCopyEdit")->text().toStdString(), s.Copyright);
  EXPECT_EQ(Edit("InfoWordsEdit")->text().toStdString(), s.Keywords);
  EXPECT_EQ(Find<QPlainTextEdit>("InfoDescMemo")->toPlainText().toStdString(), s.Description);
  EXPECT_EQ(Find<QComboBox>("InfoRatingCombo")->currentIndex(), s.Rating);
  EXPECT_EQ(Find<QComboBox>("InfoRatingCombo")->currentText(), wizard::kRatingTexts[s.Rating]);

  // Which controls are usable for a fixed size with automatic choices.
  EXPECT_TRUE(Find<QRadioButton>("EncModeFixedRadio")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>("VolCheck")->isChecked());
  for (const char* name : {"VolCheck", "EncModeBitrateEdit", "EncModeQualityEdit", "VideoResWEdit",
                           "VideoCropTEdit", "VideoCropAdjButton", "EHQTwoPassCheck", "EHQ1Edit",
                           "EHQ2Edit", "Audio1BitrateTrack", "Audio1GainTrack"})
    EXPECT_FALSE(Enabled(name)) << name;
  if (s.HasSubtitles) {
    EXPECT_FALSE(Enabled("SubLangCombo"));
  }
  for (const char* name : {"VolCombo", "VolNumEdit", "EHQTrack", "VideoResAutoCheck",
                           "VideoCropNoCheck", "VideoCropManuCheck"})
    EXPECT_TRUE(Enabled(name)) << name;
  EXPECT_EQ(Enabled("VideoCropAutoCheck"), facts.BordersDetected());
  EXPECT_EQ(Enabled("VideoTruCheck"), facts.PalVideo);
  EXPECT_EQ(Edit("VolEdit")->isEnabled(), s.VolumePreset == 0);

  // The frame around the page.
  EXPECT_EQ(frame_.header_icon, 3);
  EXPECT_EQ(frame_.header_title, "Configuration");
  EXPECT_EQ(frame_.header_comment, "Set transcoding properties.");
  EXPECT_EQ(frame_.notebook_page, wizard::kConfigPage);
  EXPECT_EQ(frame_.NextButton()->text(), "Finish");
  EXPECT_TRUE(frame_.NextButton()->font().bold());
  EXPECT_TRUE(frame_.NextButton()->isEnabled());
  EXPECT_TRUE(frame_.PreviewButton()->isVisible());
  EXPECT_TRUE(messages_.Messages().empty());

  // The written-out facts of the other tests are the real ones.
  const std::string name =
      std::string(t.disc) + "/" + std::to_string(t.vts) + "/" + std::to_string(t.pgc);
  for (const HandTitle& hand : HandTitles()) {
    if (name == hand.name) ExpectSameFacts(wizard::FactsForTitle(hand.title_set, hand.pgc), facts);
  }
}

INSTANTIATE_TEST_SUITE_P(SampleDiscs, EverySampleTitle, ::testing::ValuesIn(AllSampleTitles()),
                         [](const auto& info) { return TitleName(info.param); });

// OK in the crop dialog hands the page exactly the margins it shows, in any
// combination: a margin is never held to a maximum that the other axis's old
// margins set (a left margin of 400 where the right one was 400).
TEST_F(PreparedTitle, AdjustShowsTheTitleAndOkHandsTheMarginsToThePage) {
  EnterPrepared({"pal_letterbox", 1, 1});
  if (HasFailure()) return;
  EXPECT_EQ(Settings().CropRect, (wizard::PictureRect{72, 0, 720, 416}));
  Click("VideoCropManuCheck");
  // Margins top, bottom, left, right of the 720 x 576 title.
  const struct {
    wizard::CropMargins page, dialog;
  } cases[] = {
      {{72, 88, 0, 0}, {60, 88, 10, 0}},    {{72, 88, 0, 400}, {60, 88, 400, 0}},
      {{0, 0, 0, 600}, {0, 0, 600, 0}},     {{400, 0, 600, 0}, {0, 400, 0, 600}},
      {{0, 500, 88, 0}, {500, 0, 600, 80}}, {{100, 100, 100, 100}, {2, 4, 6, 8}},
  };
  const char* const page_fields[] = {"VideoCropTEdit", "VideoCropBEdit", "VideoCropLEdit",
                                     "VideoCropREdit"};
  auto values = [](wizard::CropMargins& m) {
    return std::array<int*, 4>{&m.Top, &m.Bottom, &m.Left, &m.Right};
  };
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << c.dialog.Top << "," << c.dialog.Bottom << ","
                                    << c.dialog.Left << "," << c.dialog.Right);
    // The page's fields as typed, from zero so that no maximum holds them.
    for (const char* field : page_fields) Edit(field)->setText(QStringLiteral("0"));
    for (int i = 0; i < 4; ++i) Edit(page_fields[i])->setText(Number(*values(c.page)[i]));
    Click("VideoCropAdjButton");
    wizard::TKVNNewCropForm* crop = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (auto* form = qobject_cast<wizard::TKVNNewCropForm*>(window); form && form->isVisible())
        crop = form;
    }
    ASSERT_NE(crop, nullptr);
    EXPECT_FALSE(frame_.Window()->isEnabled());
    // The dialog starts from the page's margins.
    QLineEdit* const fields[] = {crop->VideoCropTEdit, crop->VideoCropBEdit, crop->VideoCropLEdit,
                                 crop->VideoCropREdit};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fields[i]->text(), Number(*values(c.page)[i]));
    for (QLineEdit* field : fields) field->setText(QStringLiteral("0"));
    for (int i = 0; i < 4; ++i) fields[i]->setText(Number(*values(c.dialog)[i]));
    QTest::mouseClick(crop->OKButton, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(frame_.Window()->isEnabled());
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(Edit(page_fields[i])->text(), Number(*values(c.dialog)[i])) << page_fields[i];
    EXPECT_EQ(Settings().CropRect, wizard::CropRectFor(c.dialog, 720, 576));
    EXPECT_DOUBLE_EQ(Settings().AspectRatio, Settings().ComputeAspectRatio(true, false));
    wizard::CropMargins maxima = wizard::CropMaxima(c.dialog, 720, 576);
    const char* const up_downs[] = {"VideoCropTUpDown", "VideoCropBUpDown", "VideoCropLUpDown",
                                    "VideoCropRUpDown"};
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(page_->findChild<queue::UpDown*>(up_downs[i])->Maximum(), *values(maxima)[i]);
  }
  EXPECT_TRUE(messages_.Messages().empty());
}

}  // namespace
}  // namespace kv_test
