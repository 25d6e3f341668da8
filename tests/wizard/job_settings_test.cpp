#include "wizard/job_settings.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

using wizard::AudioCodecListOf;
using wizard::ChannelModeKind;
using wizard::ComplexityListKind;
using wizard::CropModeKind;
using wizard::EncodeModeKind;
using wizard::JobSettings;
using wizard::TitleFacts;

TEST(VolumeProposal, HalfACdDecidesBetweenCustomAndCds) {
  struct Case {
    int estimated_mb, preset, size, count;
  };
  const Case cases[] = {
      {349, 0, 349, 1},     // below half of 700: one custom volume of that size
      {350, 2, 700, 1},     // from half a CD on: CDs of 700 MB
      {1049, 2, 700, 1},    // 1 CD and 349 MB left over
      {1400, 2, 700, 2},    // exactly 2
      {1750, 2, 700, 3},    // 2 and a half round up
      {0, 0, 1, 1},         // the size field holds at least 1 MB
      {10000, 2, 700, 10},  // 14 CDs, but the count stops at 10
  };
  for (const Case& c : cases) {
    const wizard::VolumeProposal p = wizard::ProposeVolumes(c.estimated_mb);
    EXPECT_EQ(p.VolumePreset, c.preset) << c.estimated_mb;
    EXPECT_EQ(p.VolumeSizeMB, c.size) << c.estimated_mb;
    EXPECT_EQ(p.VolumeCount, c.count) << c.estimated_mb;
  }
}

TEST(Formats, FrameRateDurationBitRateAndCopyright) {
  EXPECT_EQ(wizard::FormatFrameRate(29.97f), "29.97 fps");
  EXPECT_EQ(wizard::FormatFrameRate(25.0f), "25.00 fps");
  // Cut, not rounded: 23.976 shows 23.97.
  EXPECT_EQ(wizard::FormatFrameRate(23.976f), "23.97 fps");
  EXPECT_EQ(wizard::FormatDuration(5400), "01:30:00");
  // 3725.9 s = 1 h, 2 min, 5.9 s.
  EXPECT_EQ(wizard::FormatDuration(3725.9), "01:02:05");
  EXPECT_EQ(wizard::FormatDuration(59.99), "00:00:59");
  EXPECT_EQ(wizard::FormatAudioBitrate(96), "96 Kbps");

  char year[8];
  const std::time_t now = std::time(nullptr);
  std::strftime(year, sizeof year, "%Y", std::localtime(&now));
  EXPECT_EQ(wizard::DefaultCopyright(), std::string("(C) ") + year);
  EXPECT_EQ(JobSettings().Copyright, std::string("(C) ") + year);
}

TEST(ClipTexts, OnlyTextsThatNeedNoEscaping) {
  EXPECT_TRUE(wizard::IsValidClipText(""));
  EXPECT_TRUE(wizard::IsValidClipText("Summer (C) 2026, part 1; \\ / ? ! #"));
  for (const char* bad : {"Tom & Jerry", "a \"b\"", "it's", "<b>", "x > y"}) {
    EXPECT_FALSE(wizard::IsValidClipText(bad)) << bad;
  }
  EXPECT_FALSE(wizard::IsValidClipText("caf\xc3\xa9"));  // UTF-8: codes above 127
  EXPECT_FALSE(wizard::IsValidClipText(std::string("a\0b", 3)));
  EXPECT_TRUE(wizard::IsValidClipText(std::string(255, 'x')));
  EXPECT_FALSE(wizard::IsValidClipText(std::string(256, 'x')));
  EXPECT_TRUE(wizard::IsValidClipText(std::string(1023, 'x'), wizard::kMaxClipDescriptionLength));
  EXPECT_FALSE(wizard::IsValidClipText(std::string(1024, 'x'), wizard::kMaxClipDescriptionLength));
}

struct FilterCase {
  const char* title;
  bool pal, progressive;
  float film;
  bool deinterlace, deinterlace_full, ivtc, ivtc_complex, ivtc_decimate;
};

TEST(FilterDefaults, FollowVideoKindAndFilmShare) {
  // "Unchanged" fields start as true here, so that a kept value shows.
  const FilterCase cases[] = {
      {"PAL progressive", true, true, 0, false, true, false, true, false},
      {"PAL interlaced", true, false, 0, true, false, false, true, false},
      {"PAL with film flags", true, false, 100, true, false, false, true, false},
      {"NTSC video progressive", false, true, 5, false, true, false, true, false},
      {"NTSC video interlaced", false, false, 5, true, false, false, true, false},
      {"NTSC film", false, false, 95, false, true, true, false, true},
      {"NTSC mostly film", false, false, 50, false, true, true, true, true},
      {"NTSC mixed", false, false, 5.5f, false, true, true, true, false},
      {"NTSC just below half", false, true, 49.9f, false, true, true, true, false},
  };
  for (const FilterCase& c : cases) {
    JobSettings s;
    s.Facts.PalVideo = c.pal;
    s.Facts.Progressive = c.progressive;
    s.Facts.FilmShare = c.film;
    s.DeinterlaceFull = true;
    s.IvtcComplex = true;
    s.IvtcDecimate = true;
    s.ApplyFilterDefaults();
    EXPECT_EQ(s.Deinterlace, c.deinterlace) << c.title;
    EXPECT_EQ(s.DeinterlaceFull, c.deinterlace_full) << c.title;
    EXPECT_EQ(s.Ivtc, c.ivtc) << c.title;
    EXPECT_EQ(s.IvtcComplex, c.ivtc_complex) << c.title;
    EXPECT_EQ(s.IvtcDecimate, c.ivtc_decimate) << c.title;
  }

  JobSettings s;
  s.Facts.FieldOrderTop = true;
  s.ApplyFilterDefaults();
  EXPECT_TRUE(s.TopFieldFirst);
}

TEST(FilterFrameRate, DecimationKeepsFourFramesOfFive) {
  JobSettings s;
  s.SourceFrameRate = 29.97f;
  s.SourceFrameCount = 1003;
  s.Ivtc = true;
  s.IvtcComplex = false;  // simple: the decoder's film mode
  s.ApplyFilterFrameRate();
  // 29.97 * 4 * 0.2 in single precision = 23.976; 1003 * 4 / 5 = 802.
  EXPECT_FLOAT_EQ(s.FrameRate, 23.976f);
  EXPECT_EQ(s.FrameCount, 802);
  EXPECT_DOUBLE_EQ(s.Duration, 802 / static_cast<double>(s.FrameRate));

  // Complex field matching without decimation keeps rate and count.
  s.IvtcComplex = true;
  s.IvtcDecimate = false;
  s.ApplyFilterFrameRate();
  EXPECT_EQ(s.FrameRate, 29.97f);
  EXPECT_EQ(s.FrameCount, 1003);

  s.IvtcDecimate = true;
  s.ApplyFilterFrameRate();
  EXPECT_EQ(s.FrameCount, 802);
}

TEST(FilterFrameRate, TruSpeedSurvivesTheFilterOptions) {
  JobSettings s;
  s.Facts.PalVideo = true;
  s.SourceFrameRate = 25.0f;
  s.SourceFrameCount = 2400;
  s.SetPalTruSpeed(true);
  s.Deinterlace = true;
  s.ApplyFilterFrameRate();
  EXPECT_EQ(s.FrameRate, 24.0f);
  EXPECT_EQ(s.FrameCount, 2400);
  EXPECT_DOUBLE_EQ(s.Duration, 100.0);
}

TEST(Complexity, ListSwitchKeepsTheNearestSum) {
  JobSettings s;
  s.EncodeMode = EncodeModeKind::FixedSize;
  s.SelectComplexityList(ComplexityListKind::TwoPass);
  s.ComplexityPreset = 7;
  s.ApplyComplexityPreset();
  EXPECT_EQ(s.encoderComplexity, 90);
  EXPECT_EQ(s.firstPassComplexity, 50);
  EXPECT_TRUE(s.TwoPass);

  // 90 + 50 = 140: the single-pass list's nearest is 100 (row 5).
  s.EncodeMode = EncodeModeKind::ConstantQuality;
  s.SelectComplexityList(ComplexityListKind::SinglePass);
  EXPECT_EQ(s.ComplexitySliderMax, 5);
  EXPECT_EQ(s.ComplexityPreset, 5);
  EXPECT_EQ(s.encoderComplexity, 100);
  EXPECT_FALSE(s.TwoPass);
  EXPECT_EQ(s.firstPassComplexity, 50);  // kept, only unused
  EXPECT_FALSE(s.rcEnableCurveCompression);

  // Back from 100: 80 is 20 off, 60 + 50 = 110 only 10 (row 4).
  s.EncodeMode = EncodeModeKind::FixedSize;
  s.SelectComplexityList(ComplexityListKind::TwoPass);
  EXPECT_EQ(s.ComplexitySliderMax, 8);
  EXPECT_EQ(s.ComplexityPreset, 4);
  EXPECT_EQ(s.encoderComplexity, 60);
  EXPECT_TRUE(s.TwoPass);
  EXPECT_TRUE(s.rcEnableCurveCompression);

  // A single-pass two-pass-list row: 80 goes to single-pass 80 (row 3).
  s.ComplexityPreset = 3;
  s.ApplyComplexityPreset();
  EXPECT_FALSE(s.TwoPass);
  s.SelectComplexityList(ComplexityListKind::SinglePass);
  EXPECT_EQ(s.ComplexityPreset, 3);
}

TEST(Complexity, WithoutAListThePositionScalesToTheNewRange) {
  JobSettings s;
  s.ComplexityList = nullptr;
  s.ComplexitySliderMax = 5;
  s.ComplexityPreset = 3;
  s.SelectComplexityList(ComplexityListKind::TwoPass);
  // ceil(3 * 8 / 5) = ceil(4.8) = 5: row 5 = 70, 50.
  EXPECT_EQ(s.ComplexityPreset, 5);
  EXPECT_EQ(s.encoderComplexity, 70);
  EXPECT_TRUE(s.TwoPass);
}

TEST(Complexity, CustomValuesStayButNeverTwoPassInConstantQuality) {
  JobSettings s;
  s.SelectComplexityList(ComplexityListKind::TwoPass);
  s.ComplexityCustom = true;
  s.encoderComplexity = 77;
  s.firstPassComplexity = 66;
  s.TwoPass = true;
  s.ApplyComplexityPreset();  // no effect while custom
  EXPECT_EQ(s.encoderComplexity, 77);
  s.EncodeMode = EncodeModeKind::ConstantQuality;
  s.SelectComplexityList(ComplexityListKind::SinglePass);
  EXPECT_EQ(s.encoderComplexity, 77);
  EXPECT_EQ(s.firstPassComplexity, 66);
  EXPECT_FALSE(s.TwoPass);
  EXPECT_FALSE(s.rcEnableCurveCompression);
}

TEST(CodecDefaults, ManualValuesStayExceptCurveCompressionWithoutTwoPasses) {
  JobSettings s;
  s.CodecManual = true;
  s.rcEnableCurveCompression = true;
  s.rcPFrameRefQuant = 20;
  s.UseMaxConsecutiveBFrames = false;
  s.TwoPass = true;
  s.ApplyCodecDefaults();
  EXPECT_TRUE(s.rcEnableCurveCompression);
  s.TwoPass = false;
  s.ApplyCodecDefaults();
  EXPECT_FALSE(s.rcEnableCurveCompression);
  EXPECT_EQ(s.rcPFrameRefQuant, 20);
  EXPECT_FALSE(s.UseMaxConsecutiveBFrames);

  s.CodecManual = false;
  s.rcHighBitrateReduce = s.rcLowBitrateBoost = 40;
  s.rcBFrameRefQuant = s.inloopCutOffQuant = 1;
  s.inloopCutOffCompatible = s.inloopCutOffBUseRefQuant = true;
  s.maxConsecutiveBFrames = 1;
  s.patternAdaptivity = 0;
  s.encodeAllFrames = s.chromaModeDecision = s.enableRPR = false;
  s.TwoPass = true;
  s.ApplyCodecDefaults();
  EXPECT_TRUE(s.rcEnableCurveCompression);
  EXPECT_EQ(s.rcHighBitrateReduce, 0);
  EXPECT_EQ(s.rcLowBitrateBoost, 0);
  EXPECT_EQ(s.rcPFrameRefQuant, 6);
  EXPECT_EQ(s.rcBFrameRefQuant, 10);
  EXPECT_EQ(s.inloopCutOffQuant, 12);
  EXPECT_FALSE(s.inloopCutOffCompatible);
  EXPECT_FALSE(s.inloopCutOffBUseRefQuant);
  EXPECT_TRUE(s.UseMaxConsecutiveBFrames);
  EXPECT_EQ(s.maxConsecutiveBFrames, 3);
  EXPECT_EQ(s.patternAdaptivity, 2);
  EXPECT_TRUE(s.encodeAllFrames);
  EXPECT_TRUE(s.chromaModeDecision);
  EXPECT_TRUE(s.enableRPR);
}

// PAL 4:3 interlaced, 720 x 576 without borders, 5400 s, one 5.1 stream.
TitleFacts PalFeature() {
  TitleFacts t;
  t.PictureWidth = 720;
  t.PictureHeight = 576;
  t.PalVideo = true;
  t.VideoFrameRate = 25.0f;
  t.PgcFrameCount = 135000;
  t.BorderState = 0;
  t.DetectedRect = {0, 0, 720, 576};
  wizard::PgcAudioEntry audio;
  audio.Format = 1;
  audio.Channels = 6;
  t.AudioStreams.push_back(audio);
  t.SubtitleStreams.push_back({0, 0x656e});
  return t;
}

TEST(InitialiseForTitle, PalFeatureGetsTwoCdsAndMultichannelSound) {
  JobSettings s;
  s.InitialiseForTitle(PalFeature());
  EXPECT_EQ(s.EncodeMode, EncodeModeKind::FixedSize);
  EXPECT_TRUE(s.SplitVolumes);
  EXPECT_EQ(s.CropMode, CropModeKind::Disabled);
  EXPECT_EQ(s.CropRect, (wizard::PictureRect{0, 0, 720, 576}));
  EXPECT_DOUBLE_EQ(s.AspectRatio, 4.0 / 3.0);
  EXPECT_TRUE(s.Deinterlace);
  EXPECT_FALSE(s.Ivtc);
  EXPECT_DOUBLE_EQ(s.SourceDuration, 5400);
  EXPECT_DOUBLE_EQ(s.Duration, 5400);
  EXPECT_TRUE(s.HasAudio);
  EXPECT_TRUE(s.HasSubtitles);
  EXPECT_FALSE(s.SubtitlesEnabled);

  // Proposal: video 720 * 25 * 720 / (4/3) * 0.225 = 2187000; with audio
  // E = 2187000 / 0.85 + 32768 = 2605709; 2605709 * 5400 / 2^23 = 1677.4 ->
  // 1678 MB = 2 CDs and 278 MB.
  EXPECT_EQ(s.VolumePreset, 2);
  EXPECT_EQ(s.VolumeSizeMB, 700);
  EXPECT_EQ(s.VolumeCount, 2);
  // Fixed size then: 1400 * 8388608 / 5400 * 0.9905 = 2154163.47.
  EXPECT_NEAR(s.TotalBitrate, 2154163.47, 0.01);
  EXPECT_EQ(s.BitrateKbps, 2103);
  // 2104 Kbps and 6 channels allow multichannel; 15 % = 323124 is nearest
  // to 268 Kbps = 274432 (row 3, the last of the list).
  EXPECT_EQ(s.ChannelMode, ChannelModeKind::Multichannel);
  EXPECT_EQ(s.AudioCodecRows, AudioCodecListOf(ChannelModeKind::Multichannel));
  EXPECT_EQ(s.AudioRowSliderMax, 3);
  EXPECT_EQ(s.AudioCodecRow, 3);
  EXPECT_EQ(s.AudioBitrate, 274432);
  EXPECT_TRUE(s.AudioBitrateAuto);
  // Minimums from row 0: 96 + 10 = 106 Kbps; 106 * 5400 / 8192 = 69.9 ->
  // 70 MB, 35 MB per volume.
  EXPECT_EQ(s.MinimumBitrateKbps, 106);
  EXPECT_EQ(s.MinimumSizeMB, 70);
  EXPECT_EQ(s.MinimumVolumeSizeMB, 35);
  // Video 2154163.5 - 274432 = 1879731.5: h = sqrt(1879731.5 / 7.5) =
  // 500.6, w = 667.5 -> 667 -> 668, height 668 * 3/4 = 501 -> 500.
  EXPECT_NEAR(s.VideoBitrate, 1879731.47, 0.01);
  EXPECT_EQ(s.OutputWidth, 668);
  EXPECT_EQ(s.OutputHeight, 500);
  // Complexity row 7 of the two-pass list.
  EXPECT_EQ(s.ComplexityList, wizard::ComplexityListOf(ComplexityListKind::TwoPass));
  EXPECT_EQ(s.ComplexityPreset, 7);
  EXPECT_EQ(s.encoderComplexity, 90);
  EXPECT_EQ(s.firstPassComplexity, 50);
  EXPECT_TRUE(s.TwoPass);
  EXPECT_TRUE(s.rcEnableCurveCompression);
}

// NTSC 16:9 film with borders, 43157 frames at 29.97, one stereo stream.
TitleFacts NtscFilm() {
  TitleFacts t;
  t.PictureWidth = 720;
  t.PictureHeight = 480;
  t.Widescreen = true;
  t.VideoFrameRate = 29.97f;
  t.FilmShare = 99.0f;
  t.FieldOrderTop = true;
  t.PgcFrameCount = 43157;
  t.BorderState = 1;
  t.DetectedRect = {60, 0, 720, 360};
  wizard::PgcAudioEntry audio;
  audio.Format = 1;
  audio.Channels = 2;
  t.AudioStreams.push_back(audio);
  return t;
}

TEST(InitialiseForTitle, ShortFilmGetsOneCustomVolumeAndCroppedSize) {
  JobSettings s;
  s.InitialiseForTitle(NtscFilm());
  EXPECT_EQ(s.CropMode, CropModeKind::Auto);
  EXPECT_EQ(s.CropRect, (wizard::PictureRect{60, 0, 720, 360}));
  // (480 * 720 * 16) / (720 * 360 * 9) = 64/27.
  EXPECT_NEAR(s.AspectRatio, 64.0 / 27.0, 1e-12);
  EXPECT_TRUE(s.Ivtc);
  EXPECT_FALSE(s.IvtcComplex);
  EXPECT_TRUE(s.IvtcDecimate);
  EXPECT_TRUE(s.TopFieldFirst);
  // 43157 * 4 / 5 = 34525 frames at 23.976.
  EXPECT_EQ(s.FrameCount, 34525);
  EXPECT_FLOAT_EQ(s.FrameRate, 23.976f);
  EXPECT_NEAR(s.Duration, 1439.98, 0.01);
  EXPECT_NEAR(s.SourceDuration, 1440.01, 0.01);
  EXPECT_FALSE(s.HasSubtitles);

  // Video 720 * 23.976 * 720 / (64/27) * 0.225 = 1179799; E = 1179799 /
  // 0.85 + 32768 = 1420767; * 1439.98 / 2^23 = 243.9 -> 244 MB: one custom
  // volume.
  EXPECT_EQ(s.VolumePreset, 0);
  EXPECT_EQ(s.VolumeSizeMB, 244);
  EXPECT_EQ(s.VolumeCount, 1);
  // 244 * 8388608 / 1439.98 * 0.9905 = 1407917.6 -> 1374 Kbps.
  EXPECT_NEAR(s.TotalBitrate, 1407917.6, 0.1);
  EXPECT_EQ(s.BitrateKbps, 1374);
  // Stereo source: surround; 15 % = 211188 is nearest to 192 Kbps = 196608.
  EXPECT_EQ(s.ChannelMode, ChannelModeKind::Surround);
  EXPECT_EQ(s.AudioCodecRow, 9);
  EXPECT_EQ(s.AudioBitrate, 196608);
  // At source speed (1440.01 s) the video gets 1407893.1 - 196608: h =
  // sqrt(1211285 / (0.225 * 29.97 * 64/27)) = 275.3, w = 652.5 -> 652 x
  // ceil(275.06) = 276.
  EXPECT_EQ(s.OutputWidth, 652);
  EXPECT_EQ(s.OutputHeight, 276);
}

TEST(InitialiseForTitle, SilentTitleNeedsOnly8Kbps) {
  TitleFacts t = PalFeature();
  t.AudioStreams.clear();
  JobSettings s;
  s.InitialiseForTitle(t);
  EXPECT_FALSE(s.HasAudio);
  EXPECT_EQ(s.AudioBitrate, 0);
  EXPECT_EQ(s.MinimumBitrateKbps, 8);
  // Without audio E is the video rate alone: 2187000 * 5400 / 2^23 = 1407.9
  // -> 1408 MB = 2 CDs and 8 MB.
  EXPECT_EQ(s.VolumeCount, 2);
  // 8 * 5400 / 8192 = 5.3 -> 6 MB, 3 per volume.
  EXPECT_EQ(s.MinimumSizeMB, 6);
  EXPECT_EQ(s.MinimumVolumeSizeMB, 3);
  EXPECT_DOUBLE_EQ(s.VideoBitrate, s.TotalBitrate);
}

TEST(InitialiseForTitle, KeepsLossProtectionManualCodecAndClipInformation) {
  JobSettings s;
  s.InitialiseForTitle(PalFeature());
  s.enableLossProtection = true;
  s.CodecManual = true;
  s.rcPFrameRefQuant = 21;
  s.Title = "Holiday";
  s.Copyright = "(C) someone";
  s.Rating = 3;
  s.PalTruSpeed = true;
  s.GainEnabled = true;
  s.GainStep = -30;
  s.SubtitlesEnabled = true;
  s.SelectEncodeMode(EncodeModeKind::ConstantQuality);

  s.InitialiseForTitle(NtscFilm());
  EXPECT_TRUE(s.enableLossProtection);
  EXPECT_TRUE(s.CodecManual);
  EXPECT_EQ(s.rcPFrameRefQuant, 21);
  EXPECT_EQ(s.Title, "Holiday");
  EXPECT_EQ(s.Copyright, "(C) someone");
  EXPECT_EQ(s.Rating, 3);
  // Everything else starts again.
  EXPECT_EQ(s.EncodeMode, EncodeModeKind::FixedSize);
  EXPECT_FALSE(s.PalTruSpeed);
  EXPECT_FALSE(s.GainEnabled);
  EXPECT_EQ(s.GainStep, 0);
  EXPECT_TRUE(s.AudioBitrateAuto);
  EXPECT_EQ(s.ResizeMode, wizard::ResizeModeKind::Auto);
  EXPECT_EQ(s.ComplexityPreset, 7);
  EXPECT_TRUE(s.TwoPass);
  // Curve compression, switched off by the single pass of constant quality,
  // stays off under manual codec values although two passes are back.
  EXPECT_FALSE(s.rcEnableCurveCompression);
}

TEST(EncodeModes, ConstantQualityKeepsTheAudioRowAndGoesManual) {
  JobSettings s;
  s.InitialiseForTitle(PalFeature());
  ASSERT_EQ(s.AudioCodecRow, 3);
  s.SelectEncodeMode(EncodeModeKind::ConstantQuality);
  EXPECT_EQ(s.TotalBitrate, -1);
  EXPECT_FALSE(s.AudioBitrateAuto);
  EXPECT_TRUE(s.AudioRowSliderEnabled);
  EXPECT_EQ(s.ResizeMode, wizard::ResizeModeKind::Manual);
  EXPECT_EQ(s.AudioCodecRow, 3);
  EXPECT_EQ(s.AudioBitrate, 274432);
  EXPECT_FALSE(s.TwoPass);
  EXPECT_EQ(s.encoderComplexity, 100);

  // Average bit rate: the two-pass list again (100 -> 110, row 4) and the
  // minimum from the audio row at the slider: 268 + 10.
  s.BitrateKbps = 3000;
  s.SelectEncodeMode(EncodeModeKind::AverageBitrate);
  EXPECT_EQ(s.ComplexityPreset, 4);
  EXPECT_TRUE(s.TwoPass);
  EXPECT_EQ(s.MinimumBitrateKbps, 278);
  EXPECT_DOUBLE_EQ(s.TotalBitrate, 3000 * 1024);
  // 3072000 bit/s * 5400 s over 700 MB files: 2.8 -> 3 files.
  EXPECT_EQ(s.VolumeCount, 3);

  // Fixed size forces the volume split back on and fills the 3 volumes
  // shown: 2100 * 8388608 / 5400 * 0.9905 = 3231245.2.
  s.SplitVolumes = false;
  s.SelectEncodeMode(EncodeModeKind::FixedSize);
  EXPECT_TRUE(s.SplitVolumes);
  EXPECT_NEAR(s.TotalBitrate, 3231245.2, 0.1);
  // 278 * 5400 / 8192 = 183.3 -> 184 MB, 61.3 -> 62 per volume.
  EXPECT_EQ(s.MinimumSizeMB, 184);
  EXPECT_EQ(s.MinimumVolumeSizeMB, 62);
}

TEST(Volumes, PresetAndCountRecomputeTheRates) {
  JobSettings s;
  s.InitialiseForTitle(PalFeature());
  s.SelectVolumePreset(1);  // 650 MB
  EXPECT_EQ(s.VolumeSizeMB, 650);
  // 2 * 650 * 8388608 / 5400 * 0.9905 = 2000294.65.
  EXPECT_NEAR(s.TotalBitrate, 2000294.65, 0.01);
  s.SetVolumeCount(3);
  // 106 Kbps minimum over 5400 s = 70 MB, over 3 volumes 23.3 -> 24.
  EXPECT_EQ(s.MinimumVolumeSizeMB, 24);
  EXPECT_NEAR(s.TotalBitrate, 3000441.97, 0.01);
  s.VolumeSizeMB = 123;
  s.SelectVolumePreset(0);  // "Custom" keeps the typed size
  EXPECT_EQ(s.VolumeSizeMB, 123);
}

}  // namespace
