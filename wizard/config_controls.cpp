#include "wizard/config_controls.h"

#include "wizard/settings_rules.h"

namespace wizard {

ConfigControls EnabledControls(const JobSettings& s) {
  const bool fixed = s.EncodeMode == EncodeModeKind::FixedSize;
  const bool quality = s.EncodeMode == EncodeModeKind::ConstantQuality;
  ConfigControls c;
  c.Bitrate = s.EncodeMode == EncodeModeKind::AverageBitrate;
  c.Quality = quality;
  // A fixed size always splits; its count of volumes decides the total.
  c.SplitChoice = !fixed;
  c.VolumePreset = s.SplitVolumes;
  c.VolumeSize = s.SplitVolumes && s.VolumePreset == 0;
  c.VolumeCountLabel = !quality;
  c.VolumeCount = fixed;
  c.ComplexityPreset = !s.ComplexityCustom;
  c.TwoPassChoice = s.ComplexityCustom && TwoPassAllowed(s);
  c.FirstPassLabels = s.TwoPass;
  c.FirstPass = s.ComplexityCustom && s.TwoPass;
  c.EncoderComplexity = s.ComplexityCustom;

  // Constant quality sizes nothing by a bit rate.
  c.AutoResize = !quality;
  c.OutputSize = s.ResizeMode == ResizeModeKind::Manual;
  c.AutoCrop = AutoCropAllowed(s);
  c.CropMargins = s.CropMode == CropModeKind::Manual;
  c.TruSpeed = s.Facts.PalVideo;

  for (int m = 0; m < 4; ++m) c.ChannelModes[m] = s.ChannelModeAllowed[m];
  c.AutoAudioBitrate = !quality;
  c.AudioBitrate = s.AudioRowSliderEnabled;
  c.Gain = s.GainEnabled;
  c.SubtitleLanguage = s.HasSubtitles && s.SubtitlesEnabled;
  return c;
}

}  // namespace wizard
