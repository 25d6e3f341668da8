#include "wizard/job_options.h"

#include "wizard/option_choices.h"
#include "wizard/settings_changes.h"
#include "wizard/settings_rules.h"

namespace wizard {

namespace {

std::string TooSmall(const std::string& option, int value, int minimum, const char* unit) {
  return option + ": " + std::to_string(value) + unit + " is below this title's smallest, " +
         std::to_string(minimum) + unit;
}

void ApplyFilters(const JobOptions& o, JobSettings& s) {
  if (!o.Ivtc && !o.Deinterlace) return;
  FilterChoice choice = FilterChoiceOf(s);
  if (o.Ivtc)
    choice.Ivtc = *o.Ivtc == IvtcChoice::Simple ? 1 : *o.Ivtc == IvtcChoice::Complex ? 2 : 0;
  if (o.Deinterlace) {
    choice.Deinterlace = 1;
    if (!o.Ivtc) choice.Ivtc = 0;
  }
  ApplyFilterChoice(s, choice);
}

// The audio stream and its channels, as the Audio sheet's track list and
// mode radios (only the modes the stream offers).
std::string ApplyAudioStream(const JobOptions& o, JobSettings& s) {
  if ((o.AudioTrack || o.Channels || o.AudioBitrateKbps || o.GainStep) && !s.HasAudio)
    return "--audio: the title has no audio stream";
  if (o.AudioTrack) {
    if (*o.AudioTrack > static_cast<int>(s.Facts.AudioStreams.size())) {
      return "--audio: the title has " + std::to_string(s.Facts.AudioStreams.size()) +
             " audio streams";
    }
    s.SelectAudioTrack(*o.AudioTrack - 1);
  }
  if (o.Channels) {
    static const char* const kModes[] = {"mono", "stereo", "surround", "multichannel"};
    int mode = 0;
    while (*o.Channels != kModes[mode]) ++mode;
    if (!s.ChannelModeAllowed[mode])
      return "--channels: " + *o.Channels + " is not offered for this stream";
    s.SelectChannelMode(static_cast<ChannelModeKind>(mode));
  }
  if (o.GainStep) {
    s.GainEnabled = true;
    s.GainStep = *o.GainStep;
  }
  return {};
}

std::string ApplySubtitles(const JobOptions& o, JobSettings& s) {
  if (!o.SubtitleTrack) return {};
  if (!s.HasSubtitles || *o.SubtitleTrack > static_cast<int>(s.Facts.SubtitleStreams.size())) {
    return "--subtitles: the title has " + std::to_string(s.Facts.SubtitleStreams.size()) +
           " subtitle streams";
  }
  s.SubtitleTrack = *o.SubtitleTrack - 1;
  EnableSubtitles(s, true, s.OutputWidth);
  return {};
}

std::string ApplyCrop(const JobOptions& o, JobSettings& s) {
  if (!o.Crop) return {};
  switch (*o.Crop) {
    case CropChoice::Auto:
      if (!s.Facts.BordersDetected()) return "--crop: no black borders were found to crop";
      if (!AutoCropAllowed(s)) return "--crop: auto does not go with burnt-in subtitles";
      ChooseCropMode(s, CropModeKind::Auto, s.OutputWidth);
      break;
    case CropChoice::None:
      ChooseCropMode(s, CropModeKind::Disabled, s.OutputWidth);
      break;
    case CropChoice::Manual: {
      if (!CropLeavesMinimum(o.Margins, s.Facts.PictureWidth, s.Facts.PictureHeight))
        return "--crop: the margins leave less than " + std::to_string(kMinCroppedSize) + " pixels";
      ChooseCropMode(s, CropModeKind::Manual, s.OutputWidth);
      SetCropRectangle(s, CropRectFor(o.Margins, s.Facts.PictureWidth, s.Facts.PictureHeight),
                       s.OutputWidth);
      break;
    }
  }
  return {};
}

// The encoding mode with its size, bit rate or quality, as the General
// sheet's radios and fields.
std::string ApplyEncodingMode(const JobOptions& o, JobSettings& s) {
  if (o.SizeMB) {
    ChooseFixedSize(s, s.BitrateKbps, s.VolumeSizeMB, s.VolumeCount);
    ChooseVolumePreset(s, 0, s.VolumeSizeMB);
    TypeVolumeCount(s, *o.VolumeCount, s.VolumeSizeMB);
    if (*o.SizeMB < s.MinimumVolumeSizeMB)
      return TooSmall("--size", *o.SizeMB, s.MinimumVolumeSizeMB, " MB");
    TypeVolumeSize(s, *o.SizeMB);
  } else if (o.BitrateKbps) {
    ChooseAverageBitrate(s, s.BitrateKbps);
    if (*o.BitrateKbps < s.MinimumBitrateKbps)
      return TooSmall("--bitrate", *o.BitrateKbps, s.MinimumBitrateKbps, " Kbps");
    TypeBitrate(s, *o.BitrateKbps);
  } else if (o.QualityPercent) {
    ChooseConstantQuality(s, *o.QualityPercent);
  }
  // "Split to volumes" and a custom size, as on the General sheet.
  if (o.SplitMB) {
    if (s.EncodeMode == EncodeModeKind::FixedSize)
      return "--split: goes with --bitrate or --quality (fixed size makes volumes)";
    ChooseSplitVolumes(s, *o.SplitMB > 0);
    if (*o.SplitMB > 0) {
      ChooseVolumePreset(s, 0, *o.SplitMB);
      TypeVolumeSize(s, *o.SplitMB);
    }
  }
  return {};
}

// The audio row after the mode, as a user sets it last on the Audio sheet.
std::string ApplyAudioBitrate(const JobOptions& o, JobSettings& s) {
  if (!o.AudioBitrateKbps) return {};
  if (s.AudioBitrateAuto) s.SetAudioBitrateAuto(false);
  int row = -1;
  std::string offered;
  for (int r = 0; r <= s.AudioRowSliderMax && s.AudioCodecRows; ++r) {
    const int kbps = (*s.AudioCodecRows)[r].Kbps;
    if (kbps == *o.AudioBitrateKbps) row = r;
    offered += (offered.empty() ? "" : ", ") + std::to_string(kbps);
  }
  if (row < 0)
    return "--audio-bitrate: " + std::to_string(*o.AudioBitrateKbps) +
           " is not one of the rows offered (" + offered + ")";
  s.MoveAudioSlider(row);
  return {};
}

std::string ApplyClipInfo(const JobOptions& o, JobSettings& s) {
  for (const auto& [key, text] : o.ClipInfo) {
    if (key == "rating") {
      s.Rating = std::stoi(text);
      continue;
    }
    const size_t limit = key == "description" ? kMaxClipDescriptionLength : kMaxClipTextLength;
    if (!IsValidClipText(text, limit)) {
      return "--title-info " + key +
             ": This text contains invalid characters. Please enter a valid text!";
    }
    if (key == "title") s.Title = text;
    if (key == "author") s.Author = text;
    if (key == "copyright") s.Copyright = text;
    if (key == "keywords") s.Keywords = text;
    if (key == "description") s.Description = text;
  }
  return {};
}

}  // namespace

std::string ApplyJobOptions(const JobOptions& o, JobSettings& s) {
  ApplyFilters(o, s);
  if (o.TruSpeed) {
    if (!s.Facts.PalVideo) return "--truspeed: the title is not PAL video";
    s.SetPalTruSpeed(true);
  }
  for (auto step :
       {ApplyAudioStream, ApplySubtitles, ApplyCrop, ApplyEncodingMode, ApplyAudioBitrate}) {
    if (std::string refused = step(o, s); !refused.empty()) return refused;
  }
  if (o.Width) {
    ChooseResizeMode(s, ResizeModeKind::Manual);
    FitTypedWidth(s, *o.Width);
  }
  return ApplyClipInfo(o, s);
}

}  // namespace wizard
