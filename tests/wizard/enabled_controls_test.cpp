// Which controls of the configuration page and of the codec dialog can be
// used, from the settings alone.
#include <gtest/gtest.h>

#include "wizard/codec_controls.h"
#include "wizard/config_controls.h"
#include "wizard/settings_changes.h"

namespace {

using wizard::CodecControls;
using wizard::ConfigControls;
using wizard::CropModeKind;
using wizard::EncodeModeKind;
using wizard::JobSettings;

// PAL 16:9, letterboxed, one audio and one subtitle stream, ten minutes.
JobSettings LetterboxedTitle() {
  wizard::TitleFacts t;
  t.PictureWidth = 720;
  t.PictureHeight = 576;
  t.Widescreen = true;
  t.PalVideo = true;
  t.VideoFrameRate = 25.0f;
  t.PgcFrameCount = 15000;
  t.BorderState = 1;
  t.DetectedRect = {72, 0, 720, 432};
  t.AudioStreams.push_back({});
  t.SubtitleStreams.push_back({0, 0x656e});
  JobSettings s;
  s.InitialiseForTitle(t);
  return s;
}

TEST(EnabledControls, FollowTheEncodingMode) {
  struct Row {
    EncodeModeKind mode;
    bool bitrate, quality, split_choice, count_label, count, by_bit_rate;
  };
  const Row rows[] = {
      {EncodeModeKind::FixedSize, false, false, false, true, true, true},
      {EncodeModeKind::AverageBitrate, true, false, true, true, false, true},
      {EncodeModeKind::ConstantQuality, false, true, true, false, false, false},
  };
  for (const Row& row : rows) {
    JobSettings s = LetterboxedTitle();
    if (row.mode == EncodeModeKind::AverageBitrate) wizard::ChooseAverageBitrate(s, 1000);
    if (row.mode == EncodeModeKind::ConstantQuality) wizard::ChooseConstantQuality(s, 80);
    const ConfigControls c = wizard::EnabledControls(s);
    const int mode = static_cast<int>(row.mode);
    EXPECT_EQ(c.Bitrate, row.bitrate) << mode;
    EXPECT_EQ(c.Quality, row.quality) << mode;
    EXPECT_EQ(c.SplitChoice, row.split_choice) << mode;
    EXPECT_EQ(c.VolumeCountLabel, row.count_label) << mode;
    EXPECT_EQ(c.VolumeCount, row.count) << mode;
    // Constant quality sizes neither the picture nor the audio row by a bit rate.
    EXPECT_EQ(c.AutoResize, row.by_bit_rate) << mode;
    EXPECT_EQ(c.AutoAudioBitrate, row.by_bit_rate) << mode;
    EXPECT_EQ(c.OutputSize, !row.by_bit_rate) << mode;
  }
}

TEST(EnabledControls, FollowVolumesComplexityCropSubtitlesAndGain) {
  JobSettings s = LetterboxedTitle();
  ConfigControls c = wizard::EnabledControls(s);
  EXPECT_TRUE(c.VolumePreset);
  EXPECT_EQ(c.VolumeSize, s.VolumePreset == 0);
  EXPECT_TRUE(c.ComplexityPreset);
  EXPECT_FALSE(c.TwoPassChoice || c.FirstPass || c.EncoderComplexity);
  EXPECT_TRUE(c.AutoCrop);
  EXPECT_FALSE(c.CropMargins || c.SubtitleLanguage || c.Gain);
  EXPECT_TRUE(c.TruSpeed);

  wizard::ChooseVolumePreset(s, 1, s.VolumeSizeMB);
  EXPECT_FALSE(wizard::EnabledControls(s).VolumeSize);
  wizard::ChooseAverageBitrate(s, 1000);
  s.SplitVolumes = false;
  c = wizard::EnabledControls(s);
  EXPECT_FALSE(c.VolumePreset || c.VolumeSize);

  wizard::ChooseCustomComplexity(s, true, true, s.ComplexityPreset);
  c = wizard::EnabledControls(s);
  EXPECT_FALSE(c.ComplexityPreset);
  EXPECT_TRUE(c.TwoPassChoice && c.FirstPass && c.EncoderComplexity);
  wizard::ChooseConstantQuality(s, 80);
  c = wizard::EnabledControls(s);
  EXPECT_FALSE(c.TwoPassChoice || c.FirstPass || c.FirstPassLabels);

  // Subtitles rule out the automatic crop.
  wizard::EnableSubtitles(s, true, s.OutputWidth);
  c = wizard::EnabledControls(s);
  EXPECT_FALSE(c.AutoCrop);
  EXPECT_TRUE(c.SubtitleLanguage);
  wizard::ChooseCropMode(s, CropModeKind::Manual, s.OutputWidth);
  s.GainEnabled = true;
  c = wizard::EnabledControls(s);
  EXPECT_TRUE(c.CropMargins && c.Gain);
}

TEST(EnabledCodecControls, FollowManualTheAnalysisPassCurveCompressionAndTheBFrameChoice) {
  struct Row {
    const char* name;
    bool manual, two_pass, curve, max_b_frames;
    CodecControls enabled;
  };
  // CurveCompression, RateControl, AllFrames, Manual, MaxBFrames, BPattern.
  const Row rows[] = {
      {"automatic values", false, true, true, true, {}},
      {"manual, curve compression", true, true, true, true, {true, true, false, true, true, false}},
      {"manual, no curve", true, true, false, true, {true, false, true, true, true, false}},
      {"manual, one pass", true, false, false, false, {false, false, true, true, false, true}},
  };
  for (const Row& row : rows) {
    JobSettings s;
    s.CodecManual = row.manual;
    s.TwoPass = row.two_pass;
    s.rcEnableCurveCompression = row.curve;
    s.UseMaxConsecutiveBFrames = row.max_b_frames;
    EXPECT_EQ(wizard::EnabledCodecControls(s), row.enabled) << row.name;
  }
}

}  // namespace
