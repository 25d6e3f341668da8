#pragma once

#include <cstddef>
#include <string>

#include "wizard/settings_tables.h"
#include "wizard/title_facts.h"

namespace wizard {

enum class EncodeModeKind { FixedSize, AverageBitrate, ConstantQuality };
enum class CropModeKind { Disabled, Auto, Manual };
enum class ResizeModeKind { Auto, Manual };

// Highest values of the size and bit rate fields, and the cap of every total
// derived from a size.
inline constexpr int kMaxVolumeSizeMB = 32767;
inline constexpr int kMaxBitrateKbps = 32767;
inline constexpr int kMaxVolumeCount = 10;
inline constexpr double kMaxTotalBitrate = 32767.0 * 1024.0;
// Each side of the output picture lies within this range; no crop margin
// goes beyond its end either.
inline constexpr int kMinOutputSize = 32;
inline constexpr int kMaxOutputSize = 2048;
// A total derived from a size leaves this share for the container.
inline constexpr double kSizeToBitrateFactor = 0.9905;

// What a volume-size proposal seeds: preset index (0 = "Custom"), size of one
// volume and number of volumes.
struct VolumeProposal {
  int VolumePreset = 0;
  int VolumeSizeMB = 0;
  int VolumeCount = 1;
};

// Volumes for an estimated total of `estimated_mb`: one custom volume of that
// size below half a CD, else as many 700 MB volumes as fill it best.
VolumeProposal ProposeVolumes(int estimated_mb);

// Rounds to a multiple of 4; remainders 2 and 3 round up.
int RoundToMultipleOf4(int value);

// Changes width and height in place so that they keep `aspect`, lie within
// kMinOutputSize..kMaxOutputSize and are multiples of 4. The width (width_driven) or the height
// decides the other side.
void FitOutputSize(int& width, int& height, double aspect, bool width_driven);

// "%.2f fps" of the frame rate cut to two decimals.
std::string FormatFrameRate(float rate);
// "%.2d:%.2d:%.2d" of hours, minutes and seconds of a duration in seconds.
std::string FormatDuration(double seconds);
// The audio bit rate label: the Kbps followed by " Kbps".
std::string FormatAudioBitrate(int kbps);
// "(C) " followed by the current year.
std::string DefaultCopyright();

// Clip texts go into the encoder job file unescaped: they may hold only
// characters 1..127 other than the five that XML would need escaped.
inline constexpr size_t kMaxClipTextLength = 255;
inline constexpr size_t kMaxClipDescriptionLength = 1023;
bool IsClipTextCharacter(char c);
// Every character allowed and not longer than `max_length`.
bool IsValidClipText(const std::string& text, size_t max_length = kMaxClipTextLength);

// The wizard's model of how the chosen title is transcoded, with the
// positions and limits of the controls that edit it. It holds no widget; the
// configuration page binds its controls to these fields and calls the
// operations after each change.
class JobSettings {
 public:
  JobSettings();

  // --- the chosen title ---------------------------------------------------
  TitleFacts Facts;

  // --- encoding mode, sizes and bit rates ---------------------------------
  EncodeModeKind EncodeMode = EncodeModeKind::FixedSize;
  bool SplitVolumes = true;
  int VolumePreset = 0;
  int VolumeSizeMB = 700;
  int VolumeCount = 1;
  int BitrateKbps = 0;
  int QualityPercent = 85;
  double TotalBitrate = 0;
  double TotalBitrateAtSourceSpeed = 0;
  double AudioBitrate = 0;
  double VideoBitrate = 0;
  double VideoBitrateAtSourceSpeed = 0;
  // Lower bounds of the bit rate field, the total size and one volume.
  int MinimumBitrateKbps = 8;
  int MinimumSizeMB = 1;
  int MinimumVolumeSizeMB = 1;

  // --- picture ------------------------------------------------------------
  double AspectRatio = 4.0 / 3.0;
  float SourceFrameRate = 0;
  float FrameRate = 0;
  int SourceFrameCount = 0;
  int FrameCount = 0;
  double SourceDuration = 0;
  double Duration = 0;
  CropModeKind CropMode = CropModeKind::Disabled;
  PictureRect CropRect;
  ResizeModeKind ResizeMode = ResizeModeKind::Auto;
  int OutputWidth = 0;
  int OutputHeight = 0;
  bool PalTruSpeed = false;

  // --- filters ------------------------------------------------------------
  bool Deinterlace = false;
  bool DeinterlaceFull = false;
  bool Ivtc = false;
  bool IvtcComplex = false;
  bool IvtcDecimate = false;
  bool TopFieldFirst = false;

  // --- encoder complexity and codec properties ----------------------------
  bool ComplexityCustom = false;
  const ComplexityPresetList* ComplexityList = nullptr;  // nullptr: none yet
  int ComplexityPreset = 0;                              // slider position
  int ComplexitySliderMax = 8;
  int encoderComplexity = 90;
  int firstPassComplexity = 50;
  bool TwoPass = true;
  bool enableLossProtection = false;
  bool CodecManual = false;
  bool rcEnableCurveCompression = true;
  int rcHighBitrateReduce = 0;
  int rcLowBitrateBoost = 0;
  int rcPFrameRefQuant = 6;
  int rcBFrameRefQuant = 10;
  int inloopCutOffQuant = 12;
  bool inloopCutOffCompatible = false;
  bool inloopCutOffBUseRefQuant = false;
  bool UseMaxConsecutiveBFrames = true;
  int maxConsecutiveBFrames = 3;
  int patternAdaptivity = 2;
  bool encodeAllFrames = true;
  bool chromaModeDecision = true;
  bool enableRPR = true;

  // --- audio --------------------------------------------------------------
  bool HasAudio = false;
  int AudioTrack = 0;
  ChannelModeKind ChannelMode = ChannelModeKind::Stereo;
  // The rows of ChannelMode and the rows before the last change; nullptr
  // until the first choice for a title.
  const AudioCodecList* AudioCodecRows = nullptr;
  const AudioCodecList* PreviousAudioCodecRows = nullptr;
  int AudioCodecRowCount = 0;
  bool AudioBitrateAuto = true;
  int AudioCodecRow = 0;  // slider position
  int AudioRowSliderMax = 0;
  bool AudioRowSliderEnabled = false;
  // Which channel modes the bit rate and the source allow, by ChannelModeKind.
  bool ChannelModeAllowed[4] = {false, false, false, false};
  bool GainEnabled = false;
  int GainStep = 0;  // gain in dB = -GainStep * 0.2

  // --- subtitles ----------------------------------------------------------
  bool HasSubtitles = false;
  bool SubtitlesEnabled = false;
  int SubtitleTrack = 0;

  // --- clip information ---------------------------------------------------
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Keywords;
  std::string Description;
  int Rating = 0;

  // --- operations ---------------------------------------------------------

  // All defaults for a newly chosen title. Loss protection, the manual codec
  // values and the clip information stay as they are.
  void InitialiseForTitle(const TitleFacts& title);

  // Filter switches from the title's video kind and film share, and the
  // field order.
  void ApplyFilterDefaults();
  // FrameRate, FrameCount and Duration from the filters and TruSpeed.
  void ApplyFilterFrameRate();
  // Switching TruSpeed changes the rate only, the frame count stays; then
  // the rates.
  void SetPalTruSpeed(bool on);

  // Display aspect ratio of the kept picture.
  double ComputeAspectRatio(bool use_crop, bool from_detected) const;
  // After a crop change.
  void UpdateAspectRatioFromCrop();
  // Output size for about 0.225 bit per pixel, when ResizeMode is Auto.
  void AutoResize();

  // Seeds sizes and bit rate fields from the picture (see ProposeVolumes).
  void ProposeDefaultSizes();

  // Totals, audio row, minimums, video rates and the automatic size.
  void RecomputeRates(bool recompute_total, bool rebuild_audio_modes);
  // Allowed channel modes, ChannelMode and AudioCodecRows; then the row.
  void UpdateChannelModes();
  // Slider range, AudioCodecRow, AudioBitrate and the minimums.
  void ChooseAudioRow(bool rebuild_range);
  // The minimums that selecting an encoding mode takes from the audio row at
  // the current slider position.
  void TakeMinimumsFromAudioRow();
  // After VolumeCount changed: the smallest size of one volume.
  void UpdateMinimumVolumeSize();

  // Selecting an encoding mode: forced volume split in FixedSize, its
  // minimums, its complexity list, then the rates.
  void SelectEncodeMode(EncodeModeKind mode);
  // Picking a volume preset (0 = "Custom" keeps the typed size).
  void SelectVolumePreset(int preset);
  // The volume count was changed.
  void SetVolumeCount(int count);

  // The audio track, a channel mode radio, the audio bit rate mode and the
  // audio slider were changed.
  void SelectAudioTrack(int track);
  void SelectChannelMode(ChannelModeKind mode);
  void SetAudioBitrateAuto(bool on);
  void MoveAudioSlider(int row);

  // Switches to another complexity list and keeps the nearest complexity.
  void SelectComplexityList(ComplexityListKind list);
  // Copies the preset row into the complexities and TwoPass.
  void ApplyComplexityPreset();
  // Typed complexities: never two passes in ConstantQuality.
  void ApplyCustomComplexity();
  // Automatic codec values unless CodecManual.
  void ApplyCodecDefaults();

  // The row at the audio slider, nullptr without a list.
  const AudioCodecEntry* ChosenAudioCodecRow() const;
  // Channels of the chosen audio stream, 0 without audio.
  int ChosenAudioChannels() const;
  // The size at which the encoder starts its next file: the volume size when
  // "Split to volumes" is on in a mode without fixed volumes, else 0 (never).
  int RollOverSizeMB() const;

 private:
  // Minimum total size and one volume for a total of `kbps` over the
  // title's source duration, in FixedSize; 1 and 1 otherwise.
  void SetMinimumSizes(int kbps);
};

}  // namespace wizard
