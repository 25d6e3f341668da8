#pragma once

#include <cstddef>
#include <string>

#include "wizard/crop_rules.h"
#include "wizard/job_settings.h"

namespace wizard {

// The configuration page's changes of JobSettings, one per thing a user does
// there, so that the page and the command-line front end change a job's
// settings alike. The values are what the page's fields hold (their
// spinners' values, within their ranges); a front end without fields passes
// the settings' own values.

// The three encoding mode radios.
void ChooseFixedSize(JobSettings& s, int bitrate_field, int volume_size_field,
                     int volume_count_field);
void ChooseAverageBitrate(JobSettings& s, int bitrate_field);
void ChooseConstantQuality(JobSettings& s, int quality_field);

// "Split to volumes": in the modes without fixed volumes, whether the encoder
// starts a new file at the volume size.
void ChooseSplitVolumes(JobSettings& s, bool on);
// A volume preset (0 = "Custom", which keeps the typed size).
void ChooseVolumePreset(JobSettings& s, int preset, int volume_size_field);
// Numbers typed into the bit rate, quality, volume size and count fields.
void TypeBitrate(JobSettings& s, int kbps);
void TypeQuality(JobSettings& s, int percent);
void TypeVolumeSize(JobSettings& s, int size_mb);
void TypeVolumeCount(JobSettings& s, int count, int volume_size_field);

// The complexity switches: custom values (never two passes in constant
// quality) or the preset at the slider; the two-pass box; typed complexities,
// which count only while the custom values are on.
void ChooseCustomComplexity(JobSettings& s, bool on, bool two_pass_field, int preset_field);
void ChooseComplexityPreset(JobSettings& s, int preset);
void ChooseTwoPass(JobSettings& s, bool on);
void TypeFirstPassComplexity(JobSettings& s, int percent);
void TypeEncoderComplexity(JobSettings& s, int percent);

// The resize radios, and a width left in its field: the height follows the
// aspect ratio and both become multiples of 4.
void ChooseResizeMode(JobSettings& s, ResizeModeKind mode);
void FitTypedWidth(JobSettings& s, int width);
// A width or height being typed: the other side follows the aspect ratio;
// with `fit` both are also brought within range and to multiples of 4.
void TypeOutputWidth(JobSettings& s, int width, bool fit);
void TypeOutputHeight(JobSettings& s, int height, bool fit);

// The crop rectangle changed (margins typed, the crop dialog, a crop radio):
// the aspect ratio follows it, and the output size with it.
void SetCropRectangle(JobSettings& s, const PictureRect& rect, int width_field);
// Two margins of one axis typed; the other axis keeps its rectangle.
void SetVerticalCropMargins(JobSettings& s, int top, int bottom, int width_field);
void SetHorizontalCropMargins(JobSettings& s, int left, int right, int width_field);
// All four margins at once (the crop dialog's OK).
void SetCropMargins(JobSettings& s, const CropMargins& margins, int width_field);
// The crop radios: no crop keeps the whole picture, automatic crop the
// detected rectangle; manual crop keeps the rectangle for the margins.
void ChooseCropMode(JobSettings& s, CropModeKind mode, int width_field);

// Burnt-in subtitles on or off. Subtitles and automatic crop never go
// together: an automatic crop gives way to none.
void EnableSubtitles(JobSettings& s, bool on, int width_field);

// The codec dialog's curve compression, where the analysis pass allows it;
// it encodes every frame.
void ChooseCurveCompression(JobSettings& s, bool on);

// A clip text typed into `field`: kept only when the encoder job file can
// hold it; false when refused.
bool TypeClipText(std::string& field, const std::string& text,
                  size_t max_length = kMaxClipTextLength);

}  // namespace wizard
