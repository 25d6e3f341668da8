#include <gtest/gtest.h>

#include <cmath>

#include "wizard/job_settings.h"

namespace {

using wizard::AudioCodecListOf;
using wizard::ChannelModeKind;
using wizard::CropModeKind;
using wizard::EncodeModeKind;
using wizard::JobSettings;
using wizard::PictureRect;

std::pair<int, int> Fit(int width, int height, double aspect, bool width_driven) {
  wizard::FitOutputSize(width, height, aspect, width_driven);
  return {width, height};
}

TEST(RoundToMultipleOf4, RemaindersTwoAndThreeRoundUp) {
  const int expected[] = {0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12};
  for (int v = 0; v <= 10; ++v) EXPECT_EQ(wizard::RoundToMultipleOf4(v), expected[v]) << v;
}

TEST(FitOutputSize, WidthDrivenKeepsAspectOnMultiplesOf4) {
  // 641 / (4/3) = 480.75 -> 481; width 641 -> 640; 640 * 3/4 = 480.
  EXPECT_EQ(Fit(641, 0, 4.0 / 3.0, true), std::make_pair(640, 480));
  // 642 -> 644 (remainder 2 rounds up); 644 * 3/4 = 483 -> 484.
  EXPECT_EQ(Fit(642, 0, 4.0 / 3.0, true), std::make_pair(644, 484));
  // 720 * 9/16 = 405 exactly, remainder 1 rounds down.
  EXPECT_EQ(Fit(720, 0, 16.0 / 9.0, true), std::make_pair(720, 404));
  // 700 * 9/16 = 393.75 -> 394, remainder 2 -> 396.
  EXPECT_EQ(Fit(700, 0, 16.0 / 9.0, true), std::make_pair(700, 396));
}

TEST(FitOutputSize, SmallSizesGrowToThirtyTwo) {
  // 20 * 9/16 -> 12 < 32: height 32, width floor(32 * 16/9 = 56.9) = 56;
  // 56 * 9/16 = 31.5 -> 32.
  EXPECT_EQ(Fit(20, 0, 16.0 / 9.0, true), std::make_pair(56, 32));
  // Portrait: 20 / 0.5 = 40 but width < 32: width 32, height 64.
  EXPECT_EQ(Fit(20, 0, 0.5, true), std::make_pair(32, 64));
}

TEST(FitOutputSize, LargeSizesShrinkTo2048) {
  // 3000 * 9/16 = 1687.5; width too big: 2048 x 2048 * 9/16 = 1152.
  EXPECT_EQ(Fit(3000, 0, 16.0 / 9.0, true), std::make_pair(2048, 1152));
  // Height-driven portrait: 3000 * 0.75 = 2250, both too big: height 2048,
  // width 2048 * 0.75 = 1536.
  EXPECT_EQ(Fit(0, 3000, 0.75, false), std::make_pair(1536, 2048));
}

TEST(FitOutputSize, HeightDrivenFloorsTheWidth) {
  // 301 -> 300 (remainder 1); 300 * 4/3 = 400.
  EXPECT_EQ(Fit(0, 301, 4.0 / 3.0, false), std::make_pair(400, 300));
  // 270 -> 272; 272 * 16/9 = 483.6 -> 483 -> 484.
  EXPECT_EQ(Fit(0, 270, 16.0 / 9.0, false), std::make_pair(484, 272));
}

// A 720 x 576 title with one program chain of `frames` frames at `rate`.
JobSettings Title(bool widescreen, float rate, int frames) {
  JobSettings s;
  s.Facts.PictureWidth = 720;
  s.Facts.PictureHeight = 576;
  s.Facts.Widescreen = widescreen;
  s.Facts.VideoFrameRate = rate;
  s.Facts.PgcFrameCount = frames;
  s.Facts.DetectedRect = {0, 0, 720, 576};
  s.CropRect = s.Facts.DetectedRect;
  s.SourceFrameRate = s.FrameRate = rate;
  s.SourceFrameCount = s.FrameCount = frames;
  s.Duration = s.SourceDuration = frames / static_cast<double>(rate);
  return s;
}

void AddAudio(JobSettings& s, int channels) {
  wizard::PgcAudioEntry audio;
  audio.Format = 1;
  audio.Channels = channels;
  s.Facts.AudioStreams.push_back(audio);
  s.HasAudio = true;
}

TEST(ComputeAspectRatio, CropOfDetectedBordersChangesTheNominalRatio) {
  JobSettings s = Title(true, 25.0f, 1000);
  s.Facts.BorderState = 1;
  s.Facts.DetectedRect = {72, 0, 720, 432};
  // (576 * 720 * 16) / (720 * 432 * 9) = 6635520 / 2799360 = 2.370370...
  EXPECT_NEAR(s.ComputeAspectRatio(true, true), 2.3703703703703702, 1e-12);
  EXPECT_DOUBLE_EQ(s.ComputeAspectRatio(false, true), 16.0 / 9.0);

  // From the crop rectangle: (576 * 704 * 16) / (720 * 560 * 9) = 1.78793...
  s.CropRect = {8, 8, 704, 560};
  EXPECT_NEAR(s.ComputeAspectRatio(true, false), 6488064.0 / 3628800.0, 1e-12);

  // 4:3 with the same rectangle: (576 * 704 * 4) / (720 * 560 * 3) = 1.34095...
  s.Facts.Widescreen = false;
  EXPECT_NEAR(s.ComputeAspectRatio(true, false), 1622016.0 / 1209600.0, 1e-12);

  // Without detected borders the detected rectangle gives the nominal ratio,
  // while a crop keeps its own shape.
  s.Facts.BorderState = 0;
  EXPECT_NEAR(s.ComputeAspectRatio(true, false), 1622016.0 / 1209600.0, 1e-12);
  EXPECT_DOUBLE_EQ(s.ComputeAspectRatio(true, true), 4.0 / 3.0);
  s.Facts.BorderState = 255;
  EXPECT_DOUBLE_EQ(s.ComputeAspectRatio(true, true), 4.0 / 3.0);
}

// A crop typed by hand on a title without detected borders: the picture keeps
// the cropped shape, and the automatic size never exceeds the crop.
TEST(AutoResize, ManualCropWithoutDetectedBordersKeepsTheCroppedShape) {
  struct Case {
    bool widescreen;
    PictureRect crop;
    double aspect;  // (576 * crop width * w) / (720 * crop height * h)
    int width, height;
  };
  const Case cases[] = {
      // 4:3 cropped to 720 x 400: 1.92; 720 x ceil(375) -> 376.
      {false, {88, 0, 720, 400}, 1658880.0 / 864000.0, 720, 376},
      // 16:9 cropped to 704 x 432: 2.3177; 704 x ceil(303.7) -> 304.
      {true, {72, 8, 704, 432}, 6488064.0 / 2799360.0, 704, 304},
  };
  for (const Case& c : cases) {
    JobSettings s = Title(c.widescreen, 25.0f, 2500);
    s.Facts.BorderState = 0;
    s.Facts.DetectedRect = {0, 0, 720, 576};
    s.CropMode = CropModeKind::Manual;
    s.CropRect = c.crop;
    s.UpdateAspectRatioFromCrop();
    EXPECT_NEAR(s.AspectRatio, c.aspect, 1e-12) << c.widescreen;
    s.VideoBitrate = s.VideoBitrateAtSourceSpeed = 20000000;
    s.AutoResize();
    EXPECT_EQ(s.OutputWidth, c.width) << c.widescreen;
    EXPECT_EQ(s.OutputHeight, c.height) << c.widescreen;

    // Without the crop the nominal ratio comes back.
    s.CropMode = CropModeKind::Disabled;
    s.UpdateAspectRatioFromCrop();
    EXPECT_DOUBLE_EQ(s.AspectRatio, c.widescreen ? 16.0 / 9.0 : 4.0 / 3.0);
  }
}

TEST(ComputeAspectRatio, EmptyRectangleFallsBackToNominal) {
  JobSettings s = Title(true, 25.0f, 1000);
  s.Facts.BorderState = 1;
  s.Facts.DetectedRect = {0, 0, 720, 0};
  EXPECT_DOUBLE_EQ(s.ComputeAspectRatio(true, true), 16.0 / 9.0);
}

TEST(RecomputeRates, FixedSizeFillsTheVolumes) {
  JobSettings s = Title(false, 25.0f, 135000);  // 5400 s
  s.EncodeMode = EncodeModeKind::FixedSize;
  s.VolumeCount = 1;
  s.VolumeSizeMB = 700;
  s.RecomputeRates(true, false);
  // 700 * 8388608 / 5400 * 0.9905 = 1077081.73; / 1024 = 1051.8.
  EXPECT_NEAR(s.TotalBitrate, 1077081.73, 0.01);
  EXPECT_NEAR(s.TotalBitrateAtSourceSpeed, 1077081.73, 0.01);
  EXPECT_EQ(s.BitrateKbps, 1051);
  // No audio: all of it is video.
  EXPECT_EQ(s.AudioBitrate, 0);
  EXPECT_DOUBLE_EQ(s.VideoBitrate, s.TotalBitrate);
  EXPECT_EQ(s.MinimumBitrateKbps, 8);
}

TEST(RecomputeRates, TruSpeedStretchesTheDurationButNotTheSourceDuration) {
  JobSettings s = Title(false, 25.0f, 135000);
  s.Facts.PalVideo = true;
  s.VolumeCount = 1;
  s.VolumeSizeMB = 700;
  s.SetPalTruSpeed(true);
  EXPECT_EQ(s.FrameRate, 24.0f);
  EXPECT_EQ(s.FrameCount, 135000);
  EXPECT_DOUBLE_EQ(s.Duration, 5625.0);
  // 5872025600 / 5625 * 0.9905 = 1033998.46 at 24 fps; 1077081.73 at 25.
  EXPECT_NEAR(s.TotalBitrate, 1033998.46, 0.01);
  EXPECT_NEAR(s.TotalBitrateAtSourceSpeed, 1077081.73, 0.01);
  s.SetPalTruSpeed(false);
  EXPECT_EQ(s.FrameRate, 25.0f);
  EXPECT_DOUBLE_EQ(s.Duration, 5400.0);
}

TEST(RecomputeRates, TotalsAreCappedAt32767Kbps) {
  JobSettings s = Title(false, 25.0f, 1500);  // 60 s
  s.VolumeCount = 10;
  s.VolumeSizeMB = 32767;
  s.RecomputeRates(true, false);
  EXPECT_DOUBLE_EQ(s.TotalBitrate, 32767.0 * 1024);
  EXPECT_DOUBLE_EQ(s.TotalBitrateAtSourceSpeed, 32767.0 * 1024);
  EXPECT_EQ(s.BitrateKbps, 32767);
}

TEST(RecomputeRates, TotalIsKeptUnlessAskedOrZero) {
  JobSettings s = Title(false, 25.0f, 135000);
  s.VolumeSizeMB = 700;
  s.RecomputeRates(false, false);  // total 0: computed anyway
  EXPECT_EQ(s.BitrateKbps, 1051);
  s.VolumeSizeMB = 1400;
  s.RecomputeRates(false, false);
  EXPECT_EQ(s.BitrateKbps, 1051);
  s.RecomputeRates(true, false);
  // 1400 MB: twice the total of 700 MB, 2154163.5 / 1024 = 2103.7.
  EXPECT_EQ(s.BitrateKbps, 2103);
}

TEST(RecomputeRates, AverageBitrateCountsTheRollOverFiles) {
  JobSettings s = Title(false, 25.0f, 135000);
  s.EncodeMode = EncodeModeKind::AverageBitrate;
  s.BitrateKbps = 1000;
  s.SplitVolumes = true;
  s.VolumeSizeMB = 650;
  s.RecomputeRates(true, false);
  EXPECT_DOUBLE_EQ(s.TotalBitrate, 1024000);
  // 1024000 * 5400 = 5529600000 bits over 650 MB = 5452595200 bits: 1.014 -> 2.
  EXPECT_EQ(s.VolumeCount, 2);
  s.VolumeSizeMB = 700;  // 5872025600 bits: 0.94 -> 1
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.VolumeCount, 1);
  // Without splitting the count is left alone.
  s.SplitVolumes = false;
  s.VolumeCount = 3;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.VolumeCount, 3);
}

TEST(RecomputeRates, ConstantQualityHasNoTotalAndKeepsTheVideoRates) {
  JobSettings s = Title(false, 25.0f, 135000);
  s.EncodeMode = EncodeModeKind::ConstantQuality;
  s.VideoBitrate = 12345;
  s.OutputWidth = 320;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.TotalBitrate, -1);
  EXPECT_EQ(s.TotalBitrateAtSourceSpeed, -1);
  EXPECT_EQ(s.VideoBitrate, 12345);
  EXPECT_EQ(s.OutputWidth, 320);
  EXPECT_EQ(s.MinimumSizeMB, 1);
  EXPECT_EQ(s.MinimumVolumeSizeMB, 1);
}

TEST(RecomputeRates, WithoutAudioTheMinimumIs8Kbps) {
  JobSettings s = Title(false, 25.0f, 135000);
  s.VolumeSizeMB = 700;
  s.VolumeCount = 4;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.MinimumBitrateKbps, 8);
  EXPECT_EQ(s.AudioBitrate, 0);
  // 8 Kbps * 5400 s / 8192 = 5.27 -> 6 MB, over 4 volumes 1.5 -> 2 MB.
  EXPECT_EQ(s.MinimumSizeMB, 6);
  EXPECT_EQ(s.MinimumVolumeSizeMB, 2);

  s.EncodeMode = EncodeModeKind::AverageBitrate;
  s.BitrateKbps = 500;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.MinimumBitrateKbps, 8);
  EXPECT_EQ(s.MinimumSizeMB, 1);
  EXPECT_EQ(s.MinimumVolumeSizeMB, 1);
}

// Average bit rate mode makes the total exactly Kbps * 1024.
JobSettings AudioTitle(int channels, int kbps) {
  JobSettings s = Title(false, 25.0f, 135000);
  AddAudio(s, channels);
  s.EncodeMode = EncodeModeKind::AverageBitrate;
  s.SplitVolumes = false;
  s.BitrateKbps = kbps;
  return s;
}

TEST(ChannelModes, FirstChoiceIsTheRichestAllowedMode) {
  // Six channels: multichannel from 96 + 8 = 104 Kbps.
  JobSettings six = AudioTitle(6, 104);
  six.RecomputeRates(true, false);
  EXPECT_EQ(six.ChannelMode, ChannelModeKind::Multichannel);
  EXPECT_EQ(six.AudioCodecRows, AudioCodecListOf(ChannelModeKind::Multichannel));
  EXPECT_EQ(six.AudioCodecRowCount, 4);

  JobSettings four = AudioTitle(4, 104);
  four.RecomputeRates(true, false);
  EXPECT_EQ(four.ChannelMode, ChannelModeKind::Multichannel);

  JobSettings six_low = AudioTitle(6, 103);
  six_low.RecomputeRates(true, false);
  EXPECT_FALSE(six_low.ChannelModeAllowed[3]);
  EXPECT_EQ(six_low.ChannelMode, ChannelModeKind::Surround);

  // Two channels never allow multichannel.
  JobSettings two = AudioTitle(2, 10000);
  two.RecomputeRates(true, false);
  EXPECT_FALSE(two.ChannelModeAllowed[3]);
  EXPECT_EQ(two.ChannelMode, ChannelModeKind::Surround);

  // One channel: no surround either.
  JobSettings one = AudioTitle(1, 10000);
  one.RecomputeRates(true, false);
  EXPECT_TRUE(one.ChannelModeAllowed[0]);
  EXPECT_FALSE(one.ChannelModeAllowed[2]);
  EXPECT_EQ(one.ChannelMode, ChannelModeKind::Stereo);
}

TEST(ChannelModes, RichModesFallBackAndStereoStaysWhenNothingFits) {
  JobSettings s = AudioTitle(6, 2000);
  s.RecomputeRates(true, false);
  ASSERT_EQ(s.ChannelMode, ChannelModeKind::Multichannel);

  // 50 Kbps: multichannel no longer, surround (12 + 8 = 20) still.
  s.BitrateKbps = 50;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.ChannelMode, ChannelModeKind::Surround);
  EXPECT_EQ(s.AudioCodecRows, AudioCodecListOf(ChannelModeKind::Surround));

  // Below 20 Kbps stereo and surround are not allowed: surround falls back
  // to stereo, which stays chosen; mono (6 + 8 = 14) is allowed.
  s.BitrateKbps = 19;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.ChannelMode, ChannelModeKind::Stereo);
  EXPECT_FALSE(s.ChannelModeAllowed[1]);
  EXPECT_FALSE(s.ChannelModeAllowed[2]);
  EXPECT_TRUE(s.ChannelModeAllowed[0]);
  EXPECT_EQ(s.AudioCodecRows, AudioCodecListOf(ChannelModeKind::Stereo));

  // Multichannel chosen at 15 Kbps: surround not allowed, so stereo.
  s.ChannelMode = ChannelModeKind::Multichannel;
  s.BitrateKbps = 15;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.ChannelMode, ChannelModeKind::Stereo);

  // A chosen mono below 14 Kbps stays too.
  s.SelectChannelMode(ChannelModeKind::Mono);
  s.BitrateKbps = 10;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.ChannelMode, ChannelModeKind::Mono);
  EXPECT_FALSE(s.ChannelModeAllowed[0]);
}

TEST(ChannelModes, ConstantQualityAllowsEveryModeTheSourceHas) {
  JobSettings s = AudioTitle(6, 0);
  s.EncodeMode = EncodeModeKind::ConstantQuality;
  s.AudioBitrateAuto = false;
  s.RecomputeRates(true, false);
  for (int m = 0; m < 4; ++m) EXPECT_TRUE(s.ChannelModeAllowed[m]) << m;
  EXPECT_EQ(s.ChannelMode, ChannelModeKind::Multichannel);
  EXPECT_EQ(s.AudioRowSliderMax, 3);
}

// The audio row chosen for a given total with the stereo list in place.
JobSettings StereoRowFor(double total, bool automatic) {
  JobSettings s = Title(false, 25.0f, 135000);
  AddAudio(s, 2);
  s.EncodeMode = EncodeModeKind::FixedSize;
  s.VolumeCount = 2;
  s.ChannelMode = ChannelModeKind::Stereo;
  s.AudioCodecRows = AudioCodecListOf(ChannelModeKind::Stereo);
  s.AudioCodecRowCount = 12;
  s.AudioBitrateAuto = automatic;
  s.TotalBitrate = total;
  s.ChooseAudioRow(true);
  return s;
}

TEST(AudioRow, AutomaticRowIsNearestToFifteenPercent) {
  // 900000 -> target 135000: 128 Kbps = 131072 (3928 off) beats 160 Kbps.
  JobSettings a = StereoRowFor(900000, true);
  EXPECT_EQ(a.AudioCodecRow, 7);
  EXPECT_EQ(a.AudioBitrate, 131072);
  // 1000000 -> target 150000: 160 Kbps = 163840 is 13840 off, 128 Kbps 18928.
  JobSettings b = StereoRowFor(1000000, true);
  EXPECT_EQ(b.AudioCodecRow, 8);
  EXPECT_EQ(b.AudioBitrate, 163840);
  // ceil(1000000 / 1024) = 977 leaves room for every row (320 + 8).
  EXPECT_EQ(b.AudioRowSliderMax, 11);
  EXPECT_FALSE(b.AudioRowSliderEnabled);
  // Minimums come from row 0 (12 Kbps) in automatic mode: 22 Kbps, and
  // 22 * 5400 / 8192 = 14.5 -> 15 MB, over two volumes 7.5 -> 8 MB.
  EXPECT_EQ(b.MinimumBitrateKbps, 22);
  EXPECT_EQ(b.MinimumSizeMB, 15);
  EXPECT_EQ(b.MinimumVolumeSizeMB, 8);
}

TEST(AudioRow, AutomaticTieGoesToTheLowerRow) {
  // 15 % of 983040 = 147456 lies halfway between 128 and 160 Kbps.
  JobSettings s = StereoRowFor(983040, true);
  EXPECT_EQ(s.AudioCodecRow, 7);
}

TEST(AudioRow, SliderStopsWhereTheVideoWouldGetLessThan8Kbps) {
  // 60 Kbps total: 48 + 8 = 56 fits, 64 + 8 = 72 does not -> maximum row 4.
  JobSettings s = StereoRowFor(60 * 1024, false);
  EXPECT_EQ(s.AudioRowSliderMax, 4);
  EXPECT_TRUE(s.AudioRowSliderEnabled);
  // 56 Kbps is just enough for 48 Kbps; 55.1 rounds up to 56 as well.
  EXPECT_EQ(StereoRowFor(56 * 1024, false).AudioRowSliderMax, 4);
  EXPECT_EQ(StereoRowFor(55.1 * 1024, false).AudioRowSliderMax, 4);
  EXPECT_EQ(StereoRowFor(55 * 1024, false).AudioRowSliderMax, 3);
  // Row 0 is always allowed, even when nothing fits.
  JobSettings tiny = StereoRowFor(5 * 1024, false);
  EXPECT_EQ(tiny.AudioRowSliderMax, 0);
  EXPECT_FALSE(tiny.AudioRowSliderEnabled);
  EXPECT_EQ(tiny.AudioBitrate, 12 * 1024);
}

TEST(AudioRow, ManualRowIsKeptAndLimitedToTheRange) {
  JobSettings s = AudioTitle(2, 2000);
  s.RecomputeRates(true, false);
  s.SetAudioBitrateAuto(false);
  s.SelectChannelMode(ChannelModeKind::Stereo);
  s.MoveAudioSlider(6);
  EXPECT_EQ(s.AudioBitrate, 96 * 1024);
  // 96 + 10 = 106 Kbps is the least total for this row.
  EXPECT_EQ(s.MinimumBitrateKbps, 106);

  s.BitrateKbps = 1500;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.AudioCodecRow, 6);

  // At 60 Kbps the slider ends at row 4 (48 Kbps).
  s.BitrateKbps = 60;
  s.RecomputeRates(true, false);
  EXPECT_EQ(s.AudioCodecRow, 4);
  EXPECT_EQ(s.AudioBitrate, 48 * 1024);
}

TEST(AudioRow, ManualBitRateCarriesOverToAnotherList) {
  JobSettings s = AudioTitle(6, 2000);
  s.RecomputeRates(true, false);
  s.SetAudioBitrateAuto(false);
  s.SelectChannelMode(ChannelModeKind::Stereo);
  s.MoveAudioSlider(6);  // 96 Kbps
  s.SelectChannelMode(ChannelModeKind::Multichannel);
  EXPECT_EQ(s.AudioCodecRow, 0);
  EXPECT_EQ(s.AudioBitrate, 96 * 1024);

  s.MoveAudioSlider(1);  // 132 Kbps: stereo 128 is 4 off, 160 is 28
  s.SelectChannelMode(ChannelModeKind::Stereo);
  EXPECT_EQ(s.AudioCodecRow, 7);

  s.MoveAudioSlider(4);  // 48 Kbps: surround 44 is 4 off, 64 is 16
  s.SelectChannelMode(ChannelModeKind::Surround);
  EXPECT_EQ(s.AudioCodecRow, 4);
  EXPECT_EQ(s.AudioBitrate, 44 * 1024);

  s.MoveAudioSlider(0);  // 12 Kbps: mono 11 is 1 off
  s.SelectChannelMode(ChannelModeKind::Mono);
  EXPECT_EQ(s.AudioCodecRow, 2);
}

TEST(AudioRow, ConstantQualityOffersTheWholeListAndNoMinimumTotal) {
  JobSettings s = StereoRowFor(-1, false);
  s.EncodeMode = EncodeModeKind::ConstantQuality;
  s.MinimumBitrateKbps = 77;
  s.AudioCodecRow = 11;
  s.ChooseAudioRow(true);
  EXPECT_EQ(s.AudioRowSliderMax, 11);
  EXPECT_EQ(s.AudioCodecRow, 11);
  EXPECT_EQ(s.MinimumBitrateKbps, 77);
  EXPECT_EQ(s.MinimumSizeMB, 1);
}

TEST(AutoResize, AimsAtAQuarterBitPerPixel) {
  JobSettings s = Title(false, 25.0f, 2500);
  s.AspectRatio = 4.0 / 3.0;
  s.VideoBitrate = s.VideoBitrateAtSourceSpeed = 1000000;
  s.AutoResize();
  // h = sqrt(1000000 / (0.225 * 25 * 4/3)) = sqrt(133333.3) = 365.1,
  // w = 486.9 -> 486 x 365 -> width 488, height 366 -> 368.
  EXPECT_EQ(s.OutputWidth, 488);
  EXPECT_EQ(s.OutputHeight, 368);
}

TEST(AutoResize, NeverEnlargesThePicture) {
  JobSettings s = Title(false, 25.0f, 2500);
  s.AspectRatio = 4.0 / 3.0;
  s.VideoBitrate = s.VideoBitrateAtSourceSpeed = 20000000;
  s.AutoResize();
  // h = 1633 > 576: width 720, height 720 * 3/4 = 540.
  EXPECT_EQ(s.OutputWidth, 720);
  EXPECT_EQ(s.OutputHeight, 540);

  // Cropped to 640 x 480: at most the crop.
  s.Facts.BorderState = 1;
  s.Facts.DetectedRect = {48, 40, 640, 480};
  s.CropMode = CropModeKind::Auto;
  s.CropRect = s.Facts.DetectedRect;
  s.UpdateAspectRatioFromCrop();
  // (576 * 640 * 4) / (720 * 480 * 3) = 1.4222
  EXPECT_NEAR(s.AspectRatio, 1474560.0 / 1036800.0, 1e-12);
  s.AutoResize();
  // Width 640, height ceil(640 / 1.4222 = 450) = 450 -> fit: 640 x 452.
  EXPECT_EQ(s.OutputWidth, 640);
  EXPECT_EQ(s.OutputHeight, 452);
}

TEST(AutoResize, BordersLeftInThePictureGetTheirShare) {
  JobSettings s = Title(true, 25.0f, 2500);
  s.Facts.BorderState = 1;
  s.Facts.DetectedRect = {72, 0, 720, 432};
  s.CropMode = CropModeKind::Disabled;
  s.UpdateAspectRatioFromCrop();
  EXPECT_DOUBLE_EQ(s.AspectRatio, 16.0 / 9.0);
  s.VideoBitrate = s.VideoBitrateAtSourceSpeed = 1000000;
  s.AutoResize();
  // A of the detected picture 64/27: h = sqrt(1000000 / (0.225 * 25 * 64/27))
  // = sqrt(75000) = 273.9, w = 649.2; full width 720 / 720 keeps w, h = w *
  // 9/16 = 365.2 -> 649 x 365 -> 648 (remainder 1) x ceil(364.5) = 365 -> 364.
  EXPECT_EQ(s.OutputWidth, 648);
  EXPECT_EQ(s.OutputHeight, 364);
}

TEST(AutoResize, BordersLeftInANarrowerPictureWidenTheSize) {
  JobSettings s = Title(true, 25.0f, 2500);
  s.Facts.BorderState = 1;
  s.Facts.DetectedRect = {72, 8, 704, 432};
  s.CropMode = CropModeKind::Disabled;
  s.UpdateAspectRatioFromCrop();
  s.VideoBitrate = s.VideoBitrateAtSourceSpeed = 1000000;
  s.AutoResize();
  // A = (576 * 704 * 16) / (720 * 432 * 9) = 2.3177: h = sqrt(1000000 /
  // (0.225 * 25 * 2.3177)) = 277.0, w = 641.9; the whole 720 of 704 gets
  // w = 656.5, h = 656.5 * 9/16 = 369.3 -> 656 x 369 -> 368.
  EXPECT_EQ(s.OutputWidth, 656);
  EXPECT_EQ(s.OutputHeight, 368);
}

TEST(AutoResize, LeavesTheSizeWithoutRatesOrInManualMode) {
  JobSettings s = Title(false, 25.0f, 2500);
  s.AspectRatio = 4.0 / 3.0;
  s.OutputWidth = 111;
  s.OutputHeight = 222;
  s.VideoBitrate = s.VideoBitrateAtSourceSpeed = 0;
  s.AutoResize();
  s.VideoBitrate = s.VideoBitrateAtSourceSpeed = -5000;
  s.AutoResize();
  s.VideoBitrate = 1000000;
  s.VideoBitrateAtSourceSpeed = -1;  // total at source below the audio rate
  s.AutoResize();
  s.VideoBitrateAtSourceSpeed = 1000000;
  s.Duration = 0;
  s.AutoResize();
  s.Duration = 100;
  s.FrameRate = 0;
  s.AutoResize();
  s.FrameRate = 25;
  s.ResizeMode = wizard::ResizeModeKind::Manual;
  s.AutoResize();
  EXPECT_EQ(s.OutputWidth, 111);
  EXPECT_EQ(s.OutputHeight, 222);
  s.ResizeMode = wizard::ResizeModeKind::Auto;
  s.AutoResize();
  EXPECT_EQ(s.OutputWidth, 488);
}

}  // namespace
