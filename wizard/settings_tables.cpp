#include "wizard/settings_tables.h"

namespace wizard {

namespace {

constexpr VolumePresetEntry kVolumePresets[] = {
    {"CD [74 min]", 650, 1},
    {"CD [80 min]", 700, 1},
};

constexpr ComplexityPresetEntry kTwoPassList[] = {
    {50, -1}, {60, -1}, {70, -1}, {80, -1}, {60, 50}, {70, 50}, {80, 50}, {90, 50}, {100, 50},
};

constexpr ComplexityPresetEntry kSinglePassList[] = {
    {50, -1}, {60, -1}, {70, -1}, {80, -1}, {90, -1}, {100, -1},
};

constexpr AudioFormatEntry kAudioFormats[] = {
    {"Unknown", "", "", -1},
    {"Dolby Digital", "qmaudio_ac3.dll", "qmAudioAC3Source", 0},
    {"DTS", "qmaudio_dts.dll", "qmAudioDTSSource", 1},
    {"MPEG-1", "qmaudio_mpa.dll", "qmAudioMPASource", 2},
    {"LPCM", "qmaudio_lpcm.dll", "qmAudioLPCMSource", 3},
};

constexpr AudioCodecEntry kMono[] = {
    {6, "cook", 8},   {8, "cook", 0},   {11, "cook", 1}, {16, "cook", 2},
    {20, "cook", 15}, {32, "cook", 16}, {44, "cook", 5}, {64, "cook", 6},
};

constexpr AudioCodecEntry kStereo[] = {
    {12, "cook", 26}, {16, "cook", 17}, {20, "cook", 19}, {32, "racp", 4},
    {48, "racp", 3},  {64, "racp", 0},  {96, "racp", 1},  {128, "racp", 2},
    {160, "raac", 3}, {192, "raac", 4}, {256, "raac", 5}, {320, "raac", 6},
};

// Begins with the same four rows as the stereo list.
constexpr AudioCodecEntry kSurround[] = {
    {12, "cook", 26}, {16, "cook", 17}, {20, "cook", 19},  {32, "racp", 4},
    {44, "cook", 29}, {64, "cook", 27}, {96, "cook", 28},  {128, "raac", 7},
    {160, "raac", 8}, {192, "raac", 9}, {256, "raac", 10}, {320, "raac", 11},
};

constexpr AudioCodecEntry kMultichannel[] = {
    {96, "cook", 30},
    {132, "cook", 31},
    {184, "cook", 32},
    {268, "cook", 33},
};

}  // namespace

constinit const std::span<const VolumePresetEntry> VolumePresetTable(kVolumePresets);

constinit const ComplexityPresetList ComplexityPresetTable[2] = {
    ComplexityPresetList(kTwoPassList), ComplexityPresetList(kSinglePassList)};

constinit const std::span<const AudioFormatEntry> AudioFormatTable(kAudioFormats);

constinit const AudioCodecList AudioCodecTable[4] = {AudioCodecList(kMono), AudioCodecList(kStereo),
                                                     AudioCodecList(kSurround),
                                                     AudioCodecList(kMultichannel)};

const AudioFormatEntry& AudioFormatOf(int format) {
  if (format < 0 || format >= static_cast<int>(AudioFormatTable.size())) return kAudioFormats[0];
  return AudioFormatTable[format];
}

}  // namespace wizard
