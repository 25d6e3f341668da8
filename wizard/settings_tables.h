#pragma once

#include <span>

namespace wizard {

// A volume size the user can pick by name.
struct VolumePresetEntry {
  const char* Name;  // up to 31 characters
  int SizeMB;
  int Icon;
};

// A pair of encoder complexities; a negative first-pass value means a
// single-pass encoding.
struct ComplexityPresetEntry {
  int encoderComplexity;
  int firstPassComplexity;

  bool SinglePass() const { return firstPassComplexity < 0; }
  // The value rows are compared by when the list is switched.
  int Sum() const {
    return encoderComplexity + (firstPassComplexity >= 0 ? firstPassComplexity : 0);
  }
};

// A source audio format and the frameserver plug-in that reads it.
struct AudioFormatEntry {
  const char* Name;            // up to 31 characters
  const char* PluginFile;      // "" for none
  const char* SourceFunction;  // "" for none
  int Icon;                    // -1: no icon
};

// One RealAudio encoding: bit rate, codec name and flavour.
struct AudioCodecEntry {
  int Kbps;
  char Codec[8];  // four characters, zero-padded
  int Flavour;
};

using ComplexityPresetList = std::span<const ComplexityPresetEntry>;
using AudioCodecList = std::span<const AudioCodecEntry>;

enum class ChannelModeKind { Mono = 0, Stereo = 1, Surround = 2, Multichannel = 3 };
enum class ComplexityListKind { TwoPass = 0, SinglePass = 1 };

// The volume presets; row k is VolumePreset k + 1 (0 is "Custom").
extern const std::span<const VolumePresetEntry> VolumePresetTable;
// Index by ComplexityListKind: the two-pass list serves fixed size and
// average bit rate, the single-pass list constant quality.
extern const ComplexityPresetList ComplexityPresetTable[2];
// Index by the audio stream's format number.
extern const std::span<const AudioFormatEntry> AudioFormatTable;
// Index by ChannelModeKind; rows ascend by bit rate.
extern const AudioCodecList AudioCodecTable[4];

inline const ComplexityPresetList* ComplexityListOf(ComplexityListKind kind) {
  return &ComplexityPresetTable[static_cast<int>(kind)];
}
inline const AudioCodecList* AudioCodecListOf(ChannelModeKind mode) {
  return &AudioCodecTable[static_cast<int>(mode)];
}

// The "Unknown" row for a format number outside the table.
const AudioFormatEntry& AudioFormatOf(int format);

}  // namespace wizard
