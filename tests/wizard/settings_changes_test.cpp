#include "wizard/settings_changes.h"

#include <gtest/gtest.h>

#include "wizard/crop_rules.h"
#include "wizard/settings_rules.h"

namespace {

using wizard::CropModeKind;
using wizard::EncodeModeKind;
using wizard::JobSettings;
using wizard::PictureRect;
using wizard::ResizeModeKind;

// NTSC 16:9 film, letterboxed: 720 x 480 with bars of 60 rows, one hour.
JobSettings LetterboxedFilm() {
  wizard::TitleFacts t;
  t.PictureWidth = 720;
  t.PictureHeight = 480;
  t.Widescreen = true;
  t.VideoFrameRate = 29.97f;
  t.Progressive = true;
  t.PgcFrameCount = 107892;
  t.BorderState = 1;
  t.DetectedRect = {60, 0, 720, 360};
  t.AudioStreams.push_back({});
  t.SubtitleStreams.push_back({0, 0x656e});
  JobSettings s;
  s.InitialiseForTitle(t);
  return s;
}

bool MultipleOf4(int value) {
  return value % 4 == 0;
}

TEST(SettingsChanges, CropFollowsModeMarginsAndSubtitles) {
  JobSettings s = LetterboxedFilm();
  ASSERT_EQ(s.CropMode, CropModeKind::Auto);
  ASSERT_EQ(s.CropRect, s.Facts.DetectedRect);
  // 16:9 on 720 x 480 kept 720 x 360: 480 * 720 * 16 / (720 * 360 * 9).
  EXPECT_DOUBLE_EQ(s.AspectRatio, 480.0 * 16 / (360 * 9));

  // Subtitles push the automatic crop out: the whole picture at 16:9.
  wizard::EnableSubtitles(s, true, s.OutputWidth);
  EXPECT_TRUE(s.SubtitlesEnabled);
  EXPECT_EQ(s.CropMode, CropModeKind::Disabled);
  EXPECT_EQ(s.CropRect, (PictureRect{0, 0, 720, 480}));
  EXPECT_DOUBLE_EQ(s.AspectRatio, 16.0 / 9.0);

  // A manual crop stays when subtitles go on again; margins of one axis
  // leave the other one alone, and a typed width decides the height.
  wizard::EnableSubtitles(s, false, s.OutputWidth);
  wizard::ChooseResizeMode(s, ResizeModeKind::Manual);
  wizard::ChooseCropMode(s, CropModeKind::Manual, 640);
  wizard::SetHorizontalCropMargins(s, 8, 12, 640);
  EXPECT_EQ(s.CropRect, (PictureRect{0, 8, 700, 480}));
  wizard::SetVerticalCropMargins(s, 60, 60, 640);
  EXPECT_EQ(s.CropRect, (PictureRect{60, 8, 700, 360}));
  wizard::EnableSubtitles(s, true, 640);
  EXPECT_EQ(s.CropMode, CropModeKind::Manual);
  EXPECT_EQ(s.CropRect, (PictureRect{60, 8, 700, 360}));
  EXPECT_EQ(s.OutputWidth, 640);
  EXPECT_NEAR(s.OutputHeight, 640 / s.AspectRatio, 4);
  EXPECT_TRUE(MultipleOf4(s.OutputHeight));
}

TEST(SettingsChanges, TypedOutputSizeFollowsAspectAndFitsOnLeaving) {
  JobSettings s = LetterboxedFilm();
  wizard::ChooseResizeMode(s, ResizeModeKind::Manual);
  const double aspect = s.AspectRatio;
  // While typing the other side follows as it is; on leaving both fit.
  wizard::TypeOutputWidth(s, 5, false);
  EXPECT_EQ(s.OutputWidth, 5);
  EXPECT_EQ(s.OutputHeight, 3);  // ceil(5 / 2.37)
  wizard::FitTypedWidth(s, 5);
  EXPECT_GE(s.OutputWidth, 32);
  EXPECT_GE(s.OutputHeight, 32);
  wizard::TypeOutputHeight(s, 301, true);
  EXPECT_TRUE(MultipleOf4(s.OutputWidth) && MultipleOf4(s.OutputHeight));
  EXPECT_NEAR(s.OutputWidth, s.OutputHeight * aspect, 8);
}

TEST(SettingsChanges, CustomComplexityNeverRunsTwoPassesAtConstantQuality) {
  JobSettings s = LetterboxedFilm();
  wizard::ChooseConstantQuality(s, 70);
  EXPECT_EQ(s.QualityPercent, 70);
  EXPECT_EQ(s.ResizeMode, ResizeModeKind::Manual);
  wizard::ChooseCustomComplexity(s, true, true, s.ComplexityPreset);
  EXPECT_FALSE(s.TwoPass);
  EXPECT_FALSE(s.rcEnableCurveCompression);
  // Typed complexities count only while the custom values are on.
  wizard::TypeFirstPassComplexity(s, 77);
  wizard::TypeEncoderComplexity(s, 66);
  EXPECT_NE(s.firstPassComplexity, 77);
  EXPECT_EQ(s.encoderComplexity, 66);

  wizard::ChooseFixedSize(s, s.BitrateKbps, 700, 1);
  wizard::ChooseCustomComplexity(s, true, true, s.ComplexityPreset);
  EXPECT_TRUE(s.TwoPass);
  EXPECT_TRUE(s.rcEnableCurveCompression);
  wizard::TypeFirstPassComplexity(s, 77);
  EXPECT_EQ(s.firstPassComplexity, 77);
  // Back to the presets: the slider's row replaces the typed values.
  wizard::ChooseCustomComplexity(s, false, true, 0);
  const auto& row = (*s.ComplexityList)[0];
  EXPECT_EQ(s.encoderComplexity, row.encoderComplexity);
  wizard::TypeEncoderComplexity(s, 51);
  EXPECT_EQ(s.encoderComplexity, row.encoderComplexity);
}

TEST(SettingsChanges, CurveCompressionNeedsTheAnalysisPassAndEncodesEveryFrame) {
  JobSettings s = LetterboxedFilm();
  s.CodecManual = true;
  wizard::ChooseTwoPass(s, false);
  s.encodeAllFrames = false;
  EXPECT_FALSE(wizard::CurveCompressionAllowed(s));
  wizard::ChooseCurveCompression(s, true);
  EXPECT_FALSE(s.rcEnableCurveCompression);
  EXPECT_FALSE(s.encodeAllFrames);

  wizard::ChooseTwoPass(s, true);
  wizard::ChooseCurveCompression(s, true);
  EXPECT_TRUE(s.rcEnableCurveCompression);
  EXPECT_TRUE(s.encodeAllFrames);
  // Off again, every frame is still encoded until the user says otherwise.
  wizard::ChooseCurveCompression(s, false);
  EXPECT_FALSE(s.rcEnableCurveCompression);
  EXPECT_TRUE(s.encodeAllFrames);
}

TEST(SettingsChanges, CropMarginsLeaveAtLeast32PixelsEachWay) {
  struct Row {
    wizard::CropMargins margins;
    bool leaves_enough;
  };
  const Row rows[] = {{{0, 0, 0, 0}, true},
                      {{224, 224, 0, 0}, true},
                      {{224, 225, 0, 0}, false},
                      {{0, 0, 344, 344}, true},
                      {{0, 0, 345, 344}, false}};
  for (const Row& row : rows) {
    const wizard::CropMargins& m = row.margins;
    EXPECT_EQ(wizard::CropLeavesMinimum(m, 720, 480), row.leaves_enough)
        << m.Top << " " << m.Bottom << " " << m.Left << " " << m.Right;
    // The maxima of the fields say the same.
    const wizard::CropMargins max = wizard::CropMaxima(m, 720, 480);
    EXPECT_EQ(m.Top <= max.Top && m.Left <= max.Left, row.leaves_enough);
  }
}

TEST(SettingsChanges, VolumeCountRaisesTheSizeToItsNewMinimum) {
  JobSettings s = LetterboxedFilm();
  ASSERT_EQ(s.EncodeMode, EncodeModeKind::FixedSize);
  wizard::TypeVolumeCount(s, 1, 1);
  EXPECT_EQ(s.VolumeCount, 1);
  EXPECT_GT(s.MinimumVolumeSizeMB, 1);
  EXPECT_EQ(s.VolumeSizeMB, s.MinimumVolumeSizeMB);
  wizard::ChooseVolumePreset(s, 0, 1234);
  EXPECT_EQ(s.VolumeSizeMB, 1234);
  wizard::TypeVolumeSize(s, 900);
  const double total = s.TotalBitrate;
  wizard::TypeVolumeCount(s, 2, 900);
  EXPECT_EQ(s.VolumeSizeMB, 900);
  EXPECT_NEAR(s.TotalBitrate, 2 * total, 1);
}

TEST(SettingsChanges, ClipTextsKeepTheirLastGoodValue) {
  std::string title = "Before";
  EXPECT_FALSE(wizard::TypeClipText(title, "Tom & Jerry"));
  EXPECT_EQ(title, "Before");
  EXPECT_TRUE(wizard::TypeClipText(title, "After"));
  EXPECT_EQ(title, "After");
  EXPECT_FALSE(wizard::TypeClipText(title, std::string(256, 'x')));
  EXPECT_EQ(title, "After");
}

}  // namespace
