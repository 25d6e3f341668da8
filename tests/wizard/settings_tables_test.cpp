#include "wizard/settings_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using wizard::AudioCodecListOf;
using wizard::ChannelModeKind;

std::string Codec(const wizard::AudioCodecEntry& row) {
  return row.Codec;
}

TEST(SettingsTables, VolumePresetsAreTheTwoCdSizes) {
  ASSERT_EQ(wizard::VolumePresetTable.size(), 2u);
  EXPECT_STREQ(wizard::VolumePresetTable[0].Name, "CD [74 min]");
  EXPECT_EQ(wizard::VolumePresetTable[0].SizeMB, 650);
  EXPECT_STREQ(wizard::VolumePresetTable[1].Name, "CD [80 min]");
  EXPECT_EQ(wizard::VolumePresetTable[1].SizeMB, 700);
  for (const auto& row : wizard::VolumePresetTable) {
    EXPECT_EQ(row.Icon, 1);
    EXPECT_LE(std::strlen(row.Name), 31u);
  }
}

TEST(SettingsTables, ComplexityListsOrderSinglePassBeforeTwoPass) {
  const auto& two = *wizard::ComplexityListOf(wizard::ComplexityListKind::TwoPass);
  const auto& one = *wizard::ComplexityListOf(wizard::ComplexityListKind::SinglePass);
  ASSERT_EQ(two.size(), 9u);
  ASSERT_EQ(one.size(), 6u);
  // Two-pass list: four single-pass rows 50..80, then 60..100 over a 50 %
  // analysis pass; the second to last row (7) is the default 90 + 50.
  const int two_encoder[] = {50, 60, 70, 80, 60, 70, 80, 90, 100};
  for (size_t r = 0; r < two.size(); ++r) {
    EXPECT_EQ(two[r].encoderComplexity, two_encoder[r]) << r;
    EXPECT_EQ(two[r].firstPassComplexity, r < 4 ? -1 : 50) << r;
    EXPECT_EQ(two[r].SinglePass(), r < 4) << r;
  }
  for (size_t r = 0; r < one.size(); ++r) {
    EXPECT_EQ(one[r].encoderComplexity, 50 + 10 * static_cast<int>(r)) << r;
    EXPECT_TRUE(one[r].SinglePass()) << r;
  }
  // Sums as the list switch compares them: negative first pass counts 0.
  EXPECT_EQ(two[7].Sum(), 140);
  EXPECT_EQ(two[3].Sum(), 80);
  EXPECT_EQ(one[5].Sum(), 100);
}

TEST(SettingsTables, AudioFormatsNameTheirPlugInsAndSources) {
  ASSERT_EQ(wizard::AudioFormatTable.size(), 5u);
  EXPECT_STREQ(wizard::AudioFormatTable[0].Name, "Unknown");
  EXPECT_STREQ(wizard::AudioFormatTable[0].PluginFile, "");
  EXPECT_EQ(wizard::AudioFormatTable[0].Icon, -1);
  const char* names[] = {"Dolby Digital", "DTS", "MPEG-1", "LPCM"};
  const char* plugins[] = {"qmaudio_ac3.dll", "qmaudio_dts.dll", "qmaudio_mpa.dll",
                           "qmaudio_lpcm.dll"};
  const char* sources[] = {"qmAudioAC3Source", "qmAudioDTSSource", "qmAudioMPASource",
                           "qmAudioLPCMSource"};
  for (int f = 1; f <= 4; ++f) {
    EXPECT_STREQ(wizard::AudioFormatTable[f].Name, names[f - 1]);
    EXPECT_STREQ(wizard::AudioFormatTable[f].PluginFile, plugins[f - 1]);
    EXPECT_STREQ(wizard::AudioFormatTable[f].SourceFunction, sources[f - 1]);
    EXPECT_EQ(wizard::AudioFormatTable[f].Icon, f - 1);
  }
  EXPECT_STREQ(wizard::AudioFormatOf(9).Name, "Unknown");
  EXPECT_STREQ(wizard::AudioFormatOf(-1).Name, "Unknown");
}

TEST(SettingsTables, AudioListsAscendAndUseFourCharacterCodecs) {
  const size_t sizes[] = {8, 12, 12, 4};
  for (int m = 0; m < 4; ++m) {
    const auto& rows = *AudioCodecListOf(static_cast<ChannelModeKind>(m));
    ASSERT_EQ(rows.size(), sizes[m]) << m;
    for (size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ(std::strlen(rows[r].Codec), 4u);
      EXPECT_GT(rows[r].Kbps, 0);
      if (r > 0) {
        EXPECT_GT(rows[r].Kbps, rows[r - 1].Kbps) << m << " " << r;
      }
    }
  }
}

TEST(SettingsTables, AudioRowsThatTheOtherPartsRelyOn) {
  const auto& mono = *AudioCodecListOf(ChannelModeKind::Mono);
  const auto& stereo = *AudioCodecListOf(ChannelModeKind::Stereo);
  const auto& surround = *AudioCodecListOf(ChannelModeKind::Surround);
  const auto& multi = *AudioCodecListOf(ChannelModeKind::Multichannel);
  // First rows decide which modes a bit rate allows.
  EXPECT_EQ(mono[0].Kbps, 6);
  EXPECT_EQ(stereo[0].Kbps, 12);
  EXPECT_EQ(surround[0].Kbps, 12);
  EXPECT_EQ(multi[0].Kbps, 96);
  // Surround shares its first four rows with stereo.
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(surround[r].Kbps, stereo[r].Kbps);
    EXPECT_EQ(Codec(surround[r]), Codec(stereo[r]));
    EXPECT_EQ(surround[r].Flavour, stereo[r].Flavour);
  }
  EXPECT_EQ(surround[5].Kbps, 64);
  EXPECT_EQ(Codec(surround[5]), "cook");
  EXPECT_EQ(surround[5].Flavour, 27);
  EXPECT_EQ(stereo[7].Kbps, 128);
  EXPECT_EQ(Codec(stereo[7]), "racp");
  EXPECT_EQ(stereo[7].Flavour, 2);
  EXPECT_EQ(stereo[8].Kbps, 160);
  EXPECT_EQ(Codec(stereo[8]), "raac");
  EXPECT_EQ(Codec(mono[0]), "cook");
  EXPECT_EQ(mono[0].Flavour, 8);
  EXPECT_EQ(mono[7].Kbps, 64);
  EXPECT_EQ(multi[3].Kbps, 268);
  EXPECT_EQ(multi[3].Flavour, 33);
  EXPECT_EQ(surround[11].Flavour, 11);
  EXPECT_EQ(stereo[11].Flavour, 6);
}

}  // namespace
