#include "wizard/job_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "wizard/settings_rules.h"

namespace wizard {

std::string FormatFrameRate(float rate) {
  // Cut, not rounded, to two decimals; in single precision like the rate, so
  // that 29.97 stays 29.97.
  const float hundredths = std::trunc(rate * 100.0f);
  char text[64];
  std::snprintf(text, sizeof text, "%.2f fps", hundredths * 0.01);
  return text;
}

std::string FormatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  const double h = std::trunc(seconds / 3600);
  const double m = std::trunc((seconds - 3600 * h) / 60);
  const double s = std::trunc(seconds - 3600 * h - 60 * m);
  char text[64];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", static_cast<int>(h), static_cast<int>(m),
                static_cast<int>(s));
  return text;
}

std::string FormatAudioBitrate(int kbps) {
  char text[32];
  std::snprintf(text, sizeof text, "%d Kbps", kbps);
  return text;
}

std::string DefaultCopyright() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::snprintf(text, sizeof text, "(C) %.4d", local.tm_year + 1900);
  return text;
}

bool IsClipTextCharacter(char c) {
  const unsigned char code = static_cast<unsigned char>(c);
  if (code < 1 || code > 127) return false;
  return c != '"' && c != '&' && c != '\'' && c != '<' && c != '>';
}

bool IsValidClipText(const std::string& text, size_t max_length) {
  if (text.size() > max_length) return false;
  for (char c : text) {
    if (!IsClipTextCharacter(c)) return false;
  }
  return true;
}

VolumeProposal ProposeVolumes(int estimated_mb) {
  // Half of the "CD [80 min]" preset decides between one custom volume and
  // whole CDs.
  const VolumePresetEntry& cd = VolumePresetTable[1];
  const int half = cd.SizeMB / 2;
  VolumeProposal proposal;
  if (estimated_mb < half) {
    proposal.VolumePreset = 0;
    // The size field cannot hold less than 1 MB.
    proposal.VolumeSizeMB = std::clamp(estimated_mb, 1, kMaxVolumeSizeMB);
    proposal.VolumeCount = 1;
  } else {
    proposal.VolumePreset = 2;
    proposal.VolumeSizeMB = cd.SizeMB;
    const int count = estimated_mb / cd.SizeMB + (estimated_mb % cd.SizeMB >= half ? 1 : 0);
    proposal.VolumeCount = std::clamp(count, 1, kMaxVolumeCount);
  }
  return proposal;
}

JobSettings::JobSettings() : Copyright(DefaultCopyright()) {}

void JobSettings::InitialiseForTitle(const TitleFacts& title) {
  Facts = title;
  HasAudio = !Facts.AudioStreams.empty();
  HasSubtitles = !Facts.SubtitleStreams.empty();

  SourceFrameRate = FrameRate = Facts.VideoFrameRate;
  SourceFrameCount = FrameCount = Facts.PgcFrameCount;
  Duration = SourceFrameRate != 0 ? FrameCount / static_cast<double>(FrameRate) : 0;
  SourceDuration = Duration;
  AudioCodecRows = nullptr;
  ComplexityList = nullptr;

  EncodeMode = EncodeModeKind::FixedSize;
  CropMode = Facts.BordersDetected() ? CropModeKind::Auto : CropModeKind::Disabled;
  CropRect = Facts.DetectedRect;
  ResizeMode = ResizeModeKind::Auto;
  PalTruSpeed = false;
  AspectRatio = ComputeAspectRatio(true, true);

  ApplyFilterDefaults();
  ApplyFilterFrameRate();

  TotalBitrate = 0;
  TotalBitrateAtSourceSpeed = 0;
  AudioBitrate = 0;
  ProposeDefaultSizes();

  AudioCodecRows = nullptr;
  PreviousAudioCodecRows = nullptr;
  AudioCodecRowCount = 0;
  AudioCodecRow = 0;
  AudioRowSliderMax = 0;
  if (HasAudio) {
    AudioTrack = 0;
    AudioBitrateAuto = true;
  }
  GainEnabled = false;
  GainStep = 0;
  if (HasSubtitles) {
    SubtitleTrack = 0;
    SubtitlesEnabled = false;
  }

  // What the page's handlers do when it applies these defaults, in its order:
  // audio track, automatic resize, crop, automatic audio bit rate, fixed
  // size, volume preset, volume count.
  if (HasAudio) SelectAudioTrack(0);
  RecomputeRates(true, false);
  if (HasAudio) SetAudioBitrateAuto(true);
  SelectEncodeMode(EncodeModeKind::FixedSize);
  SelectVolumePreset(VolumePreset);
  SetVolumeCount(VolumeCount);

  ComplexityCustom = false;
  ComplexityPreset = ComplexitySliderMax - 1;
  ApplyComplexityPreset();
  ApplyCodecDefaults();
}

void JobSettings::ApplyFilterDefaults() {
  const float film = Facts.FilmShare;
  if (Facts.PalVideo || film <= 5.0f) {
    Deinterlace = !Facts.Progressive;
    if (Deinterlace) DeinterlaceFull = false;
    Ivtc = false;
    IvtcDecimate = false;
  } else {
    Deinterlace = false;
    Ivtc = true;
    if (film >= 95.0f) {
      IvtcComplex = false;
      IvtcDecimate = true;
    } else if (film >= 50.0f) {
      IvtcComplex = true;
      IvtcDecimate = true;
    } else {
      IvtcComplex = true;
      IvtcDecimate = false;
    }
  }
  TopFieldFirst = Facts.FieldOrderTop;
}

void JobSettings::ApplyFilterFrameRate() {
  if (Ivtc && (!IvtcComplex || IvtcDecimate)) {
    // Decimation keeps four frames of five.
    const float four = SourceFrameRate * 4.0f;
    FrameRate = four * 0.2f;
    FrameCount = SourceFrameCount * 4 / 5;
  } else if (PalTruSpeed) {
    FrameRate = 24.0f;
    FrameCount = SourceFrameCount;
  } else {
    FrameRate = SourceFrameRate;
    FrameCount = SourceFrameCount;
  }
  Duration = FrameRate != 0 ? FrameCount / static_cast<double>(FrameRate) : 0;
}

void JobSettings::SetPalTruSpeed(bool on) {
  PalTruSpeed = on;
  FrameRate = on ? 24.0f : SourceFrameRate;
  Duration = FrameRate != 0 ? FrameCount / static_cast<double>(FrameRate) : 0;
  RecomputeRates(true, false);
}

void JobSettings::SelectEncodeMode(EncodeModeKind mode) {
  EncodeMode = mode;
  switch (mode) {
    case EncodeModeKind::FixedSize:
      SplitVolumes = true;
      // The fields hold what their spinners allow.
      BitrateKbps = std::clamp(BitrateKbps, 1, kMaxBitrateKbps);
      VolumeSizeMB = std::clamp(VolumeSizeMB, 1, kMaxVolumeSizeMB);
      VolumeCount = std::clamp(VolumeCount, 1, kMaxVolumeCount);
      TakeMinimumsFromAudioRow();
      SelectComplexityList(ComplexityListKind::TwoPass);
      break;
    case EncodeModeKind::AverageBitrate:
      BitrateKbps = std::clamp(BitrateKbps, 1, kMaxBitrateKbps);
      TakeMinimumsFromAudioRow();
      SelectComplexityList(ComplexityListKind::TwoPass);
      break;
    case EncodeModeKind::ConstantQuality:
      // No bit rate to size the picture or to choose the audio row from.
      // The audio row is kept as it is: leaving the automatic choice before
      // any recomputation stops a total of -1 from pulling it to the
      // lowest row.
      ResizeMode = ResizeModeKind::Manual;
      AudioBitrateAuto = false;
      AudioRowSliderEnabled = AudioRowSliderMax != 0;
      SelectComplexityList(ComplexityListKind::SinglePass);
      break;
  }
  RecomputeRates(true, false);
}

void JobSettings::SelectVolumePreset(int preset) {
  VolumePreset = std::clamp(preset, 0, static_cast<int>(VolumePresetTable.size()));
  if (VolumePreset > 0) VolumeSizeMB = VolumePresetTable[VolumePreset - 1].SizeMB;
  RecomputeRates(true, false);
}

void JobSettings::SetVolumeCount(int count) {
  VolumeCount = std::clamp(count, 1, kMaxVolumeCount);
  UpdateMinimumVolumeSize();
  RecomputeRates(true, false);
}

void JobSettings::SelectAudioTrack(int track) {
  AudioTrack = track;
  RecomputeRates(false, true);
}

void JobSettings::SelectChannelMode(ChannelModeKind mode) {
  ChannelMode = mode;
  RecomputeRates(false, true);
}

void JobSettings::SetAudioBitrateAuto(bool on) {
  AudioBitrateAuto = on;
  AudioRowSliderEnabled = !on && AudioRowSliderMax != 0;
  if (on) RecomputeRates(true, false);
}

void JobSettings::MoveAudioSlider(int row) {
  AudioCodecRow = std::clamp(row, 0, AudioRowSliderMax);
  RecomputeRates(false, false);
}

void JobSettings::SelectComplexityList(ComplexityListKind list) {
  int previous_sum = -1;
  if (ComplexityList != nullptr && !ComplexityList->empty()) {
    const int row = std::clamp(ComplexityPreset, 0, static_cast<int>(ComplexityList->size()) - 1);
    previous_sum = (*ComplexityList)[row].Sum();
  }
  const int old_max = ComplexitySliderMax;
  ComplexityList = ComplexityListOf(list);
  const ComplexityPresetList& rows = *ComplexityList;
  ComplexitySliderMax = static_cast<int>(rows.size()) - 1;
  // The slider keeps its position within the new range.
  const int position = std::clamp(ComplexityPreset, 0, ComplexitySliderMax);

  if (previous_sum < 0) {
    // No list was active: keep the slider's relative position.
    ComplexityPreset = old_max > 0 ? static_cast<int>(std::ceil(static_cast<double>(position) *
                                                                ComplexitySliderMax / old_max))
                                   : position;
    ComplexityPreset = std::clamp(ComplexityPreset, 0, ComplexitySliderMax);
  } else {
    int best = 0;
    for (int r = 1; r <= ComplexitySliderMax; ++r) {
      if (std::abs(rows[r].Sum() - previous_sum) < std::abs(rows[best].Sum() - previous_sum)) {
        best = r;
      }
    }
    ComplexityPreset = best;
  }

  if (ComplexityCustom) {
    ApplyCustomComplexity();
  } else {
    ApplyComplexityPreset();
  }
}

void JobSettings::ApplyComplexityPreset() {
  if (ComplexityCustom || ComplexityList == nullptr || ComplexityList->empty()) return;
  const int row_index =
      std::clamp(ComplexityPreset, 0, static_cast<int>(ComplexityList->size()) - 1);
  const ComplexityPresetEntry& row = (*ComplexityList)[row_index];
  encoderComplexity = row.encoderComplexity;
  if (row.SinglePass()) {
    TwoPass = false;
  } else {
    TwoPass = true;
    firstPassComplexity = row.firstPassComplexity;
  }
  ApplyCodecDefaults();
}

void JobSettings::ApplyCustomComplexity() {
  if (!TwoPassAllowed(*this)) TwoPass = false;
  ApplyCodecDefaults();
}

void JobSettings::ApplyCodecDefaults() {
  // Curve compression needs the analysis pass, whoever set it.
  if (!CurveCompressionAllowed(*this)) rcEnableCurveCompression = false;
  if (CodecManual) return;
  rcEnableCurveCompression = CurveCompressionAllowed(*this);
  rcHighBitrateReduce = 0;
  rcLowBitrateBoost = 0;
  rcPFrameRefQuant = 6;
  rcBFrameRefQuant = 10;
  inloopCutOffQuant = 12;
  inloopCutOffCompatible = false;
  inloopCutOffBUseRefQuant = false;
  UseMaxConsecutiveBFrames = true;
  maxConsecutiveBFrames = 3;
  patternAdaptivity = 2;
  encodeAllFrames = true;
  chromaModeDecision = true;
  enableRPR = true;
}

const AudioCodecEntry* JobSettings::ChosenAudioCodecRow() const {
  if (AudioCodecRows == nullptr || AudioCodecRows->empty()) return nullptr;
  const int row = std::clamp(AudioCodecRow, 0, static_cast<int>(AudioCodecRows->size()) - 1);
  return &(*AudioCodecRows)[row];
}

int JobSettings::ChosenAudioChannels() const {
  if (AudioTrack < 0 || AudioTrack >= static_cast<int>(Facts.AudioStreams.size())) return 0;
  return Facts.AudioStreams[AudioTrack].Channels;
}

int JobSettings::RollOverSizeMB() const {
  return SplitVolumes && EncodeMode != EncodeModeKind::FixedSize ? VolumeSizeMB : 0;
}

}  // namespace wizard
