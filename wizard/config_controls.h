#pragma once

#include "wizard/job_settings.h"

namespace wizard {

// Which controls of the configuration page can be used, from the settings
// alone. The page applies it whenever it shows the settings.
struct ConfigControls {
  // General: the encoding mode's fields, the volumes and the complexity.
  bool Bitrate = false;            // EncModeBitrate edit, up-down and label
  bool Quality = false;            // EncModeQuality edit, up-down and label
  bool SplitChoice = false;        // VolCheck
  bool VolumePreset = false;       // VolCombo, VolLabel
  bool VolumeSize = false;         // VolEdit, VolUpDown
  bool VolumeCountLabel = false;   // VolNumLabel
  bool VolumeCount = false;        // VolNumEdit, VolNumUpDown
  bool ComplexityPreset = false;   // EHQTrack
  bool TwoPassChoice = false;      // EHQTwoPassCheck
  bool FirstPassLabels = false;    // EHQ1Label1, EHQ1Label2
  bool FirstPass = false;          // EHQ1Edit, EHQ1UpDown
  bool EncoderComplexity = false;  // EHQ2Edit, EHQ2UpDown
  // Video.
  bool AutoResize = false;   // VideoResAutoCheck
  bool OutputSize = false;   // the width and height fields and up-downs
  bool AutoCrop = false;     // VideoCropAutoCheck
  bool CropMargins = false;  // the four margin fields and up-downs, Adjust...
  bool TruSpeed = false;     // VideoTruCheck
  // Audio.
  bool ChannelModes[4] = {};      // Audio1MonoRadio ... Audio1MultiRadio
  bool AutoAudioBitrate = false;  // Audio1BitrateAutoRadio
  bool AudioBitrate = false;      // Audio1BitrateTrack
  bool Gain = false;              // the gain slider and its scale
  // Subtitles.
  bool SubtitleLanguage = false;  // SubLabel1, SubLangCombo

  bool operator==(const ConfigControls&) const = default;
};

ConfigControls EnabledControls(const JobSettings& s);

}  // namespace wizard
