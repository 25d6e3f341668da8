// The computations that keep the numbers of JobSettings consistent: sizes,
// aspect ratio, totals, audio rows and minimums.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "wizard/job_settings.h"

namespace wizard {

namespace {

// Whole part of a double, saturated to the int range; 0 for NaN.
int TruncToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(std::trunc(value));
}

int CeilToInt(double value) {
  return TruncToInt(std::ceil(value));
}
int FloorToInt(double value) {
  return TruncToInt(std::floor(value));
}

// Bytes of one MB in bits.
constexpr double kBitsPerMB = 1024.0 * 1024.0 * 8.0;
// Kbps times seconds into MB.
constexpr double kKbpsSecondsPerMB = 8192.0;
// Bits per pixel the automatic size aims at.
constexpr double kBitsPerPixel = 0.225;
// A channel mode is allowed from its list's first row plus this margin.
constexpr int kAudioRowMargin = 8;

}  // namespace

int RoundToMultipleOf4(int value) {
  const int base = value / 4 * 4;
  return value % 4 <= 1 ? base : base + 4;
}

void FitOutputSize(int& width, int& height, double aspect, bool width_driven) {
  if (!(aspect > 0) || !std::isfinite(aspect)) return;
  if (width_driven) {
    height = CeilToInt(width / aspect);
  } else {
    width = FloorToInt(height * aspect);
  }

  if (width < kMinOutputSize || height < kMinOutputSize) {
    if (aspect >= 1) {
      height = kMinOutputSize;
      width = FloorToInt(kMinOutputSize * aspect);
    } else {
      width = kMinOutputSize;
      height = CeilToInt(kMinOutputSize / aspect);
    }
  } else if (width > kMaxOutputSize || height > kMaxOutputSize) {
    if (aspect >= 1) {
      width = kMaxOutputSize;
      height = CeilToInt(kMaxOutputSize / aspect);
    } else {
      height = kMaxOutputSize;
      width = FloorToInt(kMaxOutputSize * aspect);
    }
  }

  if (width_driven) {
    width = RoundToMultipleOf4(width);
    height = RoundToMultipleOf4(CeilToInt(width / aspect));
  } else {
    height = RoundToMultipleOf4(height);
    width = RoundToMultipleOf4(FloorToInt(height * aspect));
  }
}

double JobSettings::ComputeAspectRatio(bool use_crop, bool from_detected) const {
  const double nominal = Facts.Widescreen ? 16.0 / 9.0 : 4.0 / 3.0;
  if (!use_crop) return nominal;
  // Without detected borders the detected rectangle is the whole picture (or
  // not known yet); a crop typed by hand has its own shape either way.
  if (from_detected && !Facts.BordersDetected()) return nominal;
  const PictureRect& r = from_detected ? Facts.DetectedRect : CropRect;
  const int wide = Facts.Widescreen ? 16 : 4;
  const int high = Facts.Widescreen ? 9 : 3;
  const long long numerator = static_cast<long long>(Facts.PictureHeight) * r.Width * wide;
  const long long denominator = static_cast<long long>(Facts.PictureWidth) * r.Height * high;
  // An empty rectangle has no shape of its own.
  if (numerator <= 0 || denominator <= 0) return nominal;
  return static_cast<double>(numerator) / static_cast<double>(denominator);
}

void JobSettings::UpdateAspectRatioFromCrop() {
  AspectRatio = ComputeAspectRatio(CropMode != CropModeKind::Disabled, false);
}

void JobSettings::AutoResize() {
  if (ResizeMode != ResizeModeKind::Auto) return;
  if (AspectRatio == 0 || FrameRate == 0 || Duration == 0 || !(VideoBitrate > 0)) return;
  if (!(VideoBitrateAtSourceSpeed > 0) || !(SourceFrameRate > 0)) return;

  const bool disabled = CropMode == CropModeKind::Disabled;
  const int source_width = disabled ? Facts.PictureWidth : CropRect.Width;
  const int source_height = disabled ? Facts.PictureHeight : CropRect.Height;

  const double a = ComputeAspectRatio(true, true);
  double h = std::sqrt(VideoBitrateAtSourceSpeed / (kBitsPerPixel * SourceFrameRate * a));
  double w = a * h;
  if (Facts.BordersDetected() && disabled && Facts.DetectedRect.Width > 0) {
    // The borders stay in the picture: the same picture share gets the bits.
    w = source_width * w / Facts.DetectedRect.Width;
    h = w / AspectRatio;
  }

  int width = TruncToInt(w);
  int height = TruncToInt(h);
  if (source_width < width || source_height < height) {
    // Never enlarge.
    if (AspectRatio >= 1) {
      width = source_width;
      height = CeilToInt(source_width / AspectRatio);
    } else {
      height = source_height;
      width = FloorToInt(source_height * AspectRatio);
    }
  }
  FitOutputSize(width, height, AspectRatio, true);
  OutputWidth = width;
  OutputHeight = height;
}

void JobSettings::ProposeDefaultSizes() {
  const double a = ComputeAspectRatio(true, true);
  const double wd = Facts.DetectedRect.Width;
  VideoBitrate = wd * static_cast<double>(FrameRate) * wd / a * kBitsPerPixel;
  VideoBitrateAtSourceSpeed = wd * static_cast<double>(SourceFrameRate) * wd / a * kBitsPerPixel;

  // With audio the video gets 85 % of the total, and 32 Kbps more.
  const double total = HasAudio ? VideoBitrate * 1.1764705882352942 + 32768 : VideoBitrate;
  BitrateKbps = std::clamp(TruncToInt(total / 1024), 1, kMaxBitrateKbps);
  QualityPercent = 85;

  const int estimated_mb = CeilToInt(total * Duration * std::ldexp(1.0, -23));
  const VolumeProposal proposal = ProposeVolumes(estimated_mb);
  VolumePreset = proposal.VolumePreset;
  VolumeSizeMB = proposal.VolumeSizeMB;
  VolumeCount = proposal.VolumeCount;
}

void JobSettings::RecomputeRates(bool recompute_total, bool rebuild_audio_modes) {
  const bool recompute = recompute_total || TotalBitrate == 0;
  if (recompute) {
    switch (EncodeMode) {
      case EncodeModeKind::FixedSize: {
        const double bits = static_cast<double>(VolumeCount) * VolumeSizeMB * kBitsPerMB;
        TotalBitrate = std::min(bits / Duration * kSizeToBitrateFactor, kMaxTotalBitrate);
        TotalBitrateAtSourceSpeed =
            std::min(bits / SourceDuration * kSizeToBitrateFactor, kMaxTotalBitrate);
        if (std::isnan(TotalBitrate)) TotalBitrate = kMaxTotalBitrate;
        if (std::isnan(TotalBitrateAtSourceSpeed)) TotalBitrateAtSourceSpeed = kMaxTotalBitrate;
        BitrateKbps = TruncToInt(TotalBitrate / 1024);
        break;
      }
      case EncodeModeKind::AverageBitrate:
        TotalBitrate = BitrateKbps * 1024.0;
        TotalBitrateAtSourceSpeed = TotalBitrate;
        if (SplitVolumes && VolumeSizeMB > 0) {
          // The encoder starts a new file every VolumeSizeMB: the count shown
          // is the number of files to expect.
          const int files =
              CeilToInt(TotalBitrateAtSourceSpeed * SourceDuration / (VolumeSizeMB * kBitsPerMB));
          VolumeCount = std::clamp(files, 1, kMaxVolumeCount);
        }
        break;
      case EncodeModeKind::ConstantQuality:
        TotalBitrate = -1;
        TotalBitrateAtSourceSpeed = -1;
        break;
    }
  }

  if (HasAudio) {
    if (recompute || rebuild_audio_modes) {
      UpdateChannelModes();
    } else {
      ChooseAudioRow(false);
    }
  } else {
    AudioBitrate = 0;
    if (EncodeMode != EncodeModeKind::ConstantQuality) MinimumBitrateKbps = 8;
    SetMinimumSizes(8);
  }

  if (EncodeMode == EncodeModeKind::ConstantQuality) return;
  VideoBitrate = TotalBitrate - AudioBitrate;
  VideoBitrateAtSourceSpeed = TotalBitrateAtSourceSpeed - AudioBitrate;
  AutoResize();
}

void JobSettings::UpdateChannelModes() {
  const int total_kbps = CeilToInt(TotalBitrate / 1024);
  const int channels = ChosenAudioChannels();
  const bool any = EncodeMode == EncodeModeKind::ConstantQuality;
  auto reaches = [&](ChannelModeKind mode) {
    return any || total_kbps >= (*AudioCodecListOf(mode))[0].Kbps + kAudioRowMargin;
  };

  PreviousAudioCodecRows = AudioCodecRows;

  bool* allowed = ChannelModeAllowed;
  allowed[static_cast<int>(ChannelModeKind::Mono)] = reaches(ChannelModeKind::Mono);
  allowed[static_cast<int>(ChannelModeKind::Stereo)] = reaches(ChannelModeKind::Stereo);
  allowed[static_cast<int>(ChannelModeKind::Surround)] =
      channels >= 2 && reaches(ChannelModeKind::Surround);
  allowed[static_cast<int>(ChannelModeKind::Multichannel)] =
      channels >= 4 && reaches(ChannelModeKind::Multichannel);
  auto is_allowed = [&](ChannelModeKind mode) { return allowed[static_cast<int>(mode)]; };

  // Richer modes fall back; a chosen mono or stereo stays even when the
  // bit rate is too low for it.
  if (ChannelMode == ChannelModeKind::Surround && !is_allowed(ChannelModeKind::Surround)) {
    ChannelMode = ChannelModeKind::Stereo;
  }
  if (ChannelMode == ChannelModeKind::Multichannel && !is_allowed(ChannelModeKind::Multichannel)) {
    ChannelMode =
        is_allowed(ChannelModeKind::Surround) ? ChannelModeKind::Surround : ChannelModeKind::Stereo;
  }

  if (AudioCodecRows == nullptr) {
    // First choice for this title: the richest mode allowed.
    if (is_allowed(ChannelModeKind::Multichannel)) {
      ChannelMode = ChannelModeKind::Multichannel;
    } else if (is_allowed(ChannelModeKind::Surround)) {
      ChannelMode = ChannelModeKind::Surround;
    } else {
      ChannelMode = ChannelModeKind::Stereo;
    }
  }
  AudioCodecRows = AudioCodecListOf(ChannelMode);
  AudioCodecRowCount = static_cast<int>(AudioCodecRows->size());
  ChooseAudioRow(true);
}

void JobSettings::ChooseAudioRow(bool rebuild_range) {
  if (AudioCodecRows == nullptr || AudioCodecRows->empty()) return;
  const AudioCodecList& rows = *AudioCodecRows;
  const int count = static_cast<int>(rows.size());

  int previous_kbps = -1;
  if (PreviousAudioCodecRows != nullptr && !PreviousAudioCodecRows->empty()) {
    const int last = static_cast<int>(PreviousAudioCodecRows->size()) - 1;
    previous_kbps = (*PreviousAudioCodecRows)[std::clamp(AudioCodecRow, 0, last)].Kbps;
  }

  if (rebuild_range) {
    if (EncodeMode == EncodeModeKind::ConstantQuality) {
      AudioRowSliderMax = count - 1;
    } else {
      // A row is allowed while it leaves 8 Kbps of the total for the video.
      const int total_kbps = CeilToInt(TotalBitrate / 1024);
      int max = 0;
      while (max + 1 < count && rows[max + 1].Kbps + kAudioRowMargin <= total_kbps) ++max;
      AudioRowSliderMax = max;
    }
  }
  AudioRowSliderMax = std::clamp(AudioRowSliderMax, 0, count - 1);
  AudioRowSliderEnabled = AudioRowSliderMax != 0 && !AudioBitrateAuto;

  int row = 0;
  auto nearest = [&](double target, double scale) {
    int best = 0;
    for (int r = 1; r <= AudioRowSliderMax; ++r) {
      if (std::abs(target - rows[r].Kbps * scale) < std::abs(target - rows[best].Kbps * scale)) {
        best = r;
      }
    }
    return best;
  };

  if (AudioBitrateAuto) {
    // About 15 % of the total goes to the sound.
    row = nearest(0.15 * TotalBitrate, 1024.0);
    MinimumBitrateKbps = rows[0].Kbps + 10;
    SetMinimumSizes(rows[0].Kbps + 10);
  } else {
    const bool list_changed =
        PreviousAudioCodecRows != nullptr && PreviousAudioCodecRows != AudioCodecRows;
    if (rebuild_range && list_changed) {
      // The user's bit rate carries over to the new list.
      row = nearest(previous_kbps, 1.0);
    } else {
      row = std::clamp(AudioCodecRow, 0, AudioRowSliderMax);
    }
    if (EncodeMode != EncodeModeKind::ConstantQuality) MinimumBitrateKbps = rows[row].Kbps + 10;
    SetMinimumSizes(rows[row].Kbps + 10);
  }

  AudioCodecRow = row;
  AudioBitrate = rows[row].Kbps * 1024.0;
}

void JobSettings::TakeMinimumsFromAudioRow() {
  const AudioCodecEntry* row = HasAudio ? ChosenAudioCodecRow() : nullptr;
  MinimumBitrateKbps = row != nullptr ? row->Kbps + 10 : 8;
  if (EncodeMode == EncodeModeKind::FixedSize) SetMinimumSizes(MinimumBitrateKbps);
}

void JobSettings::UpdateMinimumVolumeSize() {
  MinimumVolumeSizeMB = CeilToInt(static_cast<double>(MinimumSizeMB) / std::max(1, VolumeCount));
}

void JobSettings::SetMinimumSizes(int kbps) {
  if (EncodeMode == EncodeModeKind::FixedSize) {
    MinimumSizeMB = std::max(1, CeilToInt(kbps * SourceDuration / kKbpsSecondsPerMB));
    UpdateMinimumVolumeSize();
  } else {
    MinimumSizeMB = 1;
    MinimumVolumeSizeMB = 1;
  }
}

}  // namespace wizard
