#include "wizard/settings_changes.h"

#include <algorithm>
#include <cmath>

#include "wizard/settings_rules.h"

namespace wizard {

namespace {

int CeilToInt(double value) {
  return std::isfinite(value) ? static_cast<int>(std::ceil(value)) : 0;
}
int FloorToInt(double value) {
  return std::isfinite(value) ? static_cast<int>(std::floor(value)) : 0;
}

}  // namespace

void ChooseFixedSize(JobSettings& s, int bitrate_field, int volume_size_field,
                     int volume_count_field) {
  s.SplitVolumes = true;
  s.BitrateKbps = bitrate_field;
  s.VolumeSizeMB = volume_size_field;
  s.VolumeCount = volume_count_field;
  s.SelectEncodeMode(EncodeModeKind::FixedSize);
}

void ChooseAverageBitrate(JobSettings& s, int bitrate_field) {
  // The field is rewritten within the range that the new minimum gives.
  s.EncodeMode = EncodeModeKind::AverageBitrate;
  s.TakeMinimumsFromAudioRow();
  s.BitrateKbps =
      std::clamp(bitrate_field, std::min(s.MinimumBitrateKbps, kMaxBitrateKbps), kMaxBitrateKbps);
  s.SelectEncodeMode(EncodeModeKind::AverageBitrate);
}

void ChooseConstantQuality(JobSettings& s, int quality_field) {
  // JobSettings switches to manual resize and manual audio bit rate.
  s.QualityPercent = quality_field;
  s.SelectEncodeMode(EncodeModeKind::ConstantQuality);
}

void ChooseSplitVolumes(JobSettings& s, bool on) {
  s.SplitVolumes = on;
}

void ChooseVolumePreset(JobSettings& s, int preset, int volume_size_field) {
  s.VolumeSizeMB = volume_size_field;
  s.SelectVolumePreset(preset);
}

void TypeBitrate(JobSettings& s, int kbps) {
  s.BitrateKbps = kbps;
  s.RecomputeRates(true, false);
}

void TypeQuality(JobSettings& s, int percent) {
  s.QualityPercent = percent;
  s.RecomputeRates(true, false);
}

void TypeVolumeSize(JobSettings& s, int size_mb) {
  s.VolumeSizeMB = size_mb;
  s.RecomputeRates(true, false);
}

void TypeVolumeCount(JobSettings& s, int count, int volume_size_field) {
  s.VolumeCount = count;
  s.UpdateMinimumVolumeSize();
  // The size field is rewritten within its new range.
  s.VolumeSizeMB = std::clamp(volume_size_field, std::min(s.MinimumVolumeSizeMB, kMaxVolumeSizeMB),
                              kMaxVolumeSizeMB);
  s.RecomputeRates(true, false);
}

void ChooseCustomComplexity(JobSettings& s, bool on, bool two_pass_field, int preset_field) {
  s.ComplexityCustom = on;
  if (on) {
    ChooseTwoPass(s, two_pass_field && TwoPassAllowed(s));
  } else {
    ChooseComplexityPreset(s, preset_field);
  }
}

void ChooseComplexityPreset(JobSettings& s, int preset) {
  if (s.ComplexityCustom) return;
  s.ComplexityPreset = preset;
  s.ApplyComplexityPreset();
}

void ChooseTwoPass(JobSettings& s, bool on) {
  s.TwoPass = on;
  s.ApplyCodecDefaults();
}

void TypeFirstPassComplexity(JobSettings& s, int percent) {
  if (s.ComplexityCustom && s.TwoPass) s.firstPassComplexity = percent;
}

void TypeEncoderComplexity(JobSettings& s, int percent) {
  if (s.ComplexityCustom) s.encoderComplexity = percent;
}

void ChooseResizeMode(JobSettings& s, ResizeModeKind mode) {
  s.ResizeMode = mode;
  s.RecomputeRates(true, false);
}

void FitTypedWidth(JobSettings& s, int width) {
  int height = 0;
  FitOutputSize(width, height, s.AspectRatio, true);
  s.OutputWidth = width;
  s.OutputHeight = height;
}

void TypeOutputWidth(JobSettings& s, int width, bool fit) {
  int height = width == 0 ? 0 : CeilToInt(width / s.AspectRatio);
  if (fit) FitOutputSize(width, height, s.AspectRatio, true);
  s.OutputWidth = width;
  s.OutputHeight = height;
}

void TypeOutputHeight(JobSettings& s, int height, bool fit) {
  int width = FloorToInt(height * s.AspectRatio);
  if (fit) FitOutputSize(width, height, s.AspectRatio, false);
  s.OutputWidth = width;
  s.OutputHeight = height;
}

void SetCropRectangle(JobSettings& s, const PictureRect& rect, int width_field) {
  s.CropRect = rect;
  s.UpdateAspectRatioFromCrop();
  if (s.ResizeMode == ResizeModeKind::Auto) {
    s.AutoResize();
  } else {
    int width = width_field;
    int height = CeilToInt(width / s.AspectRatio);
    FitOutputSize(width, height, s.AspectRatio, true);
    s.OutputWidth = width;
    s.OutputHeight = height;
  }
}

void SetVerticalCropMargins(JobSettings& s, int top, int bottom, int width_field) {
  PictureRect rect = s.CropRect;
  rect.Top = top;
  rect.Height = s.Facts.PictureHeight - top - bottom;
  SetCropRectangle(s, rect, width_field);
}

void SetHorizontalCropMargins(JobSettings& s, int left, int right, int width_field) {
  PictureRect rect = s.CropRect;
  rect.Left = left;
  rect.Width = s.Facts.PictureWidth - left - right;
  SetCropRectangle(s, rect, width_field);
}

void SetCropMargins(JobSettings& s, const CropMargins& margins, int width_field) {
  SetCropRectangle(s, CropRectFor(margins, s.Facts.PictureWidth, s.Facts.PictureHeight),
                   width_field);
}

void ChooseCropMode(JobSettings& s, CropModeKind mode, int width_field) {
  s.CropMode = mode;
  switch (mode) {
    case CropModeKind::Disabled:
      SetCropRectangle(s, {0, 0, s.Facts.PictureWidth, s.Facts.PictureHeight}, width_field);
      break;
    case CropModeKind::Auto:
      SetCropRectangle(s, s.Facts.DetectedRect, width_field);
      break;
    case CropModeKind::Manual:
      break;
  }
}

void EnableSubtitles(JobSettings& s, bool on, int width_field) {
  s.SubtitlesEnabled = on;
  if (s.CropMode == CropModeKind::Auto && !AutoCropAllowed(s))
    ChooseCropMode(s, CropModeKind::Disabled, width_field);
}

void ChooseCurveCompression(JobSettings& s, bool on) {
  s.rcEnableCurveCompression = on && CurveCompressionAllowed(s);
  if (s.rcEnableCurveCompression) s.encodeAllFrames = true;
}

bool TypeClipText(std::string& field, const std::string& text, size_t max_length) {
  if (!IsValidClipText(text, max_length)) return false;
  field = text;
  return true;
}

}  // namespace wizard
