// The four audio source plug-ins through the installed frameserver, over
// the sample discs' streams: the served samples against FFmpeg's decode of
// the same stream bytes with the same mix, their length against the
// picture's, any range in any order, LPCM of 20 and 24 bits from a stream
// FFmpeg reads itself, and the sync of tone and flash through a job script.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "outside/frameserver/video_file.h"
#include "tessmar/formats/virtual_file_map.h"
#include "tests/outside/plugin_test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

using kv_test::PluginTitle;
using kv_test::Quote;

struct Stream {
  const char* disc;
  int number;
  const char* plugin;  // file and function
  const char* function;
  const char* settings;  // after the path
  int channels;          // served
  int frame_samples;     // of one compressed frame (the length tolerance)
  bool exact_anywhere;   // random ranges equal the sequential decode
};

const Stream kStreams[] = {
    {"pal_sync", 0, "qmaudio_ac3.dll", "qmAudioAC3Source", ", channels=2", 2, 1536, false},
    {"pal_sync", 1, "qmaudio_dts.dll", "qmAudioDTSSource", ", channels=2", 2, 512, true},
    {"pal_sync", 2, "qmaudio_lpcm.dll", "qmAudioLPCMSource",
     ", samplerate=48000, samplebits=24, channels=2", 2, 960, true},
    {"pal_sync", 3, "qmaudio_mpa.dll", "qmAudioMPASource", ", channels=2", 2, 1152, false},
    {"ntsc_multi", 0, "qmaudio_ac3.dll", "qmAudioAC3Source", ", channels=6", 6, 1536, false},
    {"ntsc_multi", 0, "qmaudio_ac3.dll", "qmAudioAC3Source", ", channels=1", 1, 1536, false},
    {"ntsc_multi", 1, "qmaudio_lpcm.dll", "qmAudioLPCMSource",
     ", samplerate=48000, samplebits=16, channels=2", 2, 960, true},
    {"ntsc_multi", 2, "qmaudio_mpa.dll", "qmAudioMPASource", ", channels=2", 2, 1152, false},
};

// The mix the plug-ins make, as FFmpeg's resampler options.
std::string MixFilter(int channels) {
  char level[32];
  std::snprintf(level, sizeof level, "%.17g", M_SQRT1_2);
  const char* layout = channels == 1 ? "mono" : channels == 2 ? "stereo" : "5.1";
  return std::string("aresample=ochl=") + layout + ":rematrix_maxval=1:center_mix_level=" + level +
         ":surround_mix_level=" + level + ":lfe_mix_level=" + level;
}

class QmAudio : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new kv_test::TempDir("kv-qmaudio");
    for (const char* disc : {"pal_sync", "ntsc_multi"}) {
      kv_test::MakeFolders(folder_->File(disc));
      ASSERT_TRUE(kv_test::PreparePluginTitle(folder_->File(disc), disc, 1, 1, &titles_[disc]))
          << disc;
    }
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(kv_test::InstallFrameserver()); }

  static const PluginTitle& Title(const Stream& s) { return titles_[s.disc]; }
  static std::string MapName(const Stream& s) {
    return Title(s).key + "_at" + std::to_string(s.number) + ".vfm";
  }
  static std::string Script(const Stream& s, const std::string& name, const std::string& rest) {
    const std::string path = Title(s).folder + "/" + name;
    kv_test::WriteFile(path, std::string("LoadPlugin(\"") + s.plugin + "\")\r\n" + rest);
    return path;
  }
  static std::string SourceLine(const Stream& s) {
    return std::string(s.function) + "(\"" + MapName(s) + "\"" + s.settings + ")";
  }

  // FFmpeg's decode of the stream's bytes: the map's concatenation, or the
  // title's program stream for LPCM (whose map holds no packet headers).
  static std::vector<float> Reference(const Stream& s) {
    const PluginTitle& t = Title(s);
    if (std::string(s.plugin) == "qmaudio_lpcm.dll") {
      const std::string mpg = t.Path(".mpg");
      if (!kv_test::WriteMapBytes(t.Path(".vfm"), mpg)) return {};
      char map[32];
      std::snprintf(map, sizeof map, "0:i:0x%x", 0xA0 + s.number);
      return kv_test::FfmpegSamples("-i " + Quote(mpg) + " -map " + map, "");
    }
    const std::string bytes = t.Path("_at" + std::to_string(s.number) + ".bin");
    if (!kv_test::WriteMapBytes(t.Path("_at" + std::to_string(s.number) + ".vfm"), bytes))
      return {};
    const char* format = std::string(s.plugin) == "qmaudio_ac3.dll"   ? "ac3"
                         : std::string(s.plugin) == "qmaudio_dts.dll" ? "dts"
                                                                      : "mp3";
    return kv_test::FfmpegSamples(std::string("-f ") + format + " -i " + Quote(bytes),
                                  MixFilter(s.channels));
  }

  static kv_test::TempDir* folder_;
  static std::map<std::string, PluginTitle> titles_;
};
kv_test::TempDir* QmAudio::folder_ = nullptr;
std::map<std::string, PluginTitle> QmAudio::titles_;

TEST_F(QmAudio, EveryFormatEqualsFfmpegsDecodeAndLastsAsLongAsThePicture) {
  for (const Stream& s : kStreams) {
    SCOPED_TRACE(std::string(s.disc) + " " + SourceLine(s));
    const std::vector<float> theirs = Reference(s);
    ASSERT_FALSE(theirs.empty());
    kv_test::ServedClip ours = kv_test::Serve(Script(s, "sound.avs", SourceLine(s) + "\r\n"),
                                              kv_test::Pictures::kNone, true);
    ASSERT_EQ(ours.error, "");
    EXPECT_EQ(ours.audio_rate, 48000);
    ASSERT_EQ(ours.channels, s.channels);
    ASSERT_EQ(ours.sound.size(), theirs.size());
    EXPECT_EQ(std::memcmp(ours.sound.data(), theirs.data(), theirs.size() * sizeof(float)), 0);
    // With the stream's delay the sound ends with the 10 s picture, within
    // one frame of the stream.
    const double seconds = static_cast<double>(ours.samples) / ours.audio_rate +
                           Title(s).status.audio[s.number].delayMs / 1000.0;
    EXPECT_NEAR(seconds, 10.0, static_cast<double>(s.frame_samples) / ours.audio_rate);
  }
}

TEST_F(QmAudio, AnyRangeInAnyOrderIsInPlace) {
  for (const Stream& s : kStreams) {
    if (std::string(s.disc) != "pal_sync") continue;
    SCOPED_TRACE(SourceLine(s));
    std::string error;
    auto file =
        kv_video_file::VideoFile::Open(Script(s, "ranges.avs", SourceLine(s) + "\r\n"), &error);
    ASSERT_TRUE(file) << error;
    const std::vector<float> whole = Reference(s);
    const int64_t samples = file->Info().sample_count;
    ASSERT_EQ(static_cast<size_t>(samples * s.channels), whole.size());
    std::mt19937 random(17);
    float worst = 0;
    for (int i = 0; i < 30; ++i) {
      const int64_t count = 1 + random() % 4000;
      const int64_t start = static_cast<int64_t>(random() % (samples - count));
      std::vector<float> part(static_cast<size_t>(count * s.channels));
      ASSERT_TRUE(file->Audio(start, count, KVFS_SAMPLE_FLOAT, part.data())) << file->Error();
      for (size_t j = 0; j < part.size(); ++j)
        worst = std::max(worst, std::fabs(part[j] - whole[start * s.channels + j]));
    }
    // Decoders whose dither draws on a generator that runs from the
    // stream's start differ after a jump in the lowest bit of 16.
    EXPECT_LE(worst, s.exact_anywhere ? 0.0f : 1.0f / 16384);
  }
}

// A program stream of DVD LPCM packets as an authoring tool writes them
// (private stream 1, sub-stream 0xA0, the 7 bytes of sub-stream header),
// and the audio map of their payloads.
void WriteLpcmStream(const std::string& mpg, const std::string& map, int bits, int channels) {
  std::mt19937 random(bits * 10 + channels);
  std::string ps;
  std::string text;
  tessmar::formats::AppendVirtualFileMapHead(&text, {mpg});
  const int group = (channels == 1 ? 4 : 2) * channels * bits / 8;
  const int payload = 1980 / group * group;
  for (int packet = 0; packet < 60; ++packet) {
    const uint8_t pack[14] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0x01, 0x89, 0xC3, 0xF8};
    ps.append(reinterpret_cast<const char*>(pack), sizeof pack);
    const int length = 3 + 5 + 7 + payload;
    const uint64_t pts = 90000 + static_cast<uint64_t>(packet) * payload / group *
                                     (channels == 1 ? 4 : 2) * 90000 / 48000;
    const uint8_t pes[] = {0,
                           0,
                           1,
                           0xBD,
                           static_cast<uint8_t>(length >> 8),
                           static_cast<uint8_t>(length),
                           0x81,
                           0x80,
                           5,
                           static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)),
                           static_cast<uint8_t>(pts >> 22),
                           static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1),
                           static_cast<uint8_t>(pts >> 7),
                           static_cast<uint8_t>(((pts << 1) & 0xFE) | 1),
                           0xA0,
                           1,
                           0,
                           4,
                           0,
                           static_cast<uint8_t>((((bits - 16) / 4) << 6) | (channels - 1)),
                           0x80};
    ps.append(reinterpret_cast<const char*>(pes), sizeof pes);
    tessmar::formats::AppendSegment(&text, 0, ps.size(), static_cast<uint64_t>(payload));
    for (int i = 0; i < payload; ++i) ps.push_back(static_cast<char>(random()));
  }
  kv_test::WriteFile(mpg, ps);
  kv_test::WriteFile(map, text + "\n.");
}

TEST_F(QmAudio, Lpcm20And24BitsInTheDvdSampleOrder) {
  kv_test::TempDir dir("kv-qmaudio-lpcm");
  for (const auto& [bits, channels] : {std::pair{20, 2}, std::pair{24, 1}, std::pair{20, 6}}) {
    SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " channels");
    WriteLpcmStream(dir.File("lpcm.mpg"), dir.File("lpcm.vfm"), bits, channels);
    const std::vector<float> theirs =
        kv_test::FfmpegSamples("-f mpeg -i " + Quote(dir.File("lpcm.mpg")), "");
    ASSERT_FALSE(theirs.empty());
    kv_test::WriteFile(dir.File("lpcm.avs"),
                       "LoadPlugin(\"qmaudio_lpcm.dll\")\r\nqmAudioLPCMSource(\"lpcm.vfm\", "
                       "samplerate=48000, samplebits=" +
                           std::to_string(bits) + ", channels=" + std::to_string(channels) +
                           ")\r\n");
    kv_test::ServedClip ours = kv_test::Serve(dir.File("lpcm.avs"), kv_test::Pictures::kNone, true);
    ASSERT_EQ(ours.error, "");
    ASSERT_EQ(ours.sound.size(), theirs.size());
    EXPECT_EQ(std::memcmp(ours.sound.data(), theirs.data(), theirs.size() * sizeof(float)), 0);
  }
}

// A map with time lines, as the rebuild writes for a title joined of parts:
// the parts' sound where the time lines put it, a gap between two parts
// silent, and a part that starts before the sound of the one before has
// ended cutting that sound short. LPCM, whose samples FFmpeg's decode of the
// stream gives one for one.
TEST_F(QmAudio, TimeLinesPlacePartsLeavingGapsSilentAndCuttingOverlaps) {
  kv_test::TempDir dir("kv-qmaudio-lines");
  WriteLpcmStream(dir.File("lpcm.mpg"), dir.File("plain.vfm"), 16, 2);
  const std::vector<float> theirs =
      kv_test::FfmpegSamples("-f mpeg -i " + Quote(dir.File("lpcm.mpg")), "");
  ASSERT_EQ(theirs.size(), 60u * 494 * 2);  // 60 packets of 494 samples
  // Time lines before packets 0, 20 and 40: packet 20 heard 4816 samples
  // after packet 19 ends, packet 40 heard 2400 samples before packet 39 ends.
  const struct {
    size_t packet;
    int64_t ticks;
  } lines[] = {{0, 0}, {20, 27555}, {40, 41580}};  // 0, 14696 and 22176 samples
  std::string map = kv_test::ReadFile(dir.File("plain.vfm"));
  size_t at = map.find("\n\n") + 2;
  for (size_t packet = 0, l = 0; packet < 60; ++packet) {
    if (l < 3 && lines[l].packet == packet) {
      std::string line;
      tessmar::formats::AppendAnchor(&line, lines[l++].ticks);
      map.insert(at, line);
      at += line.size();
    }
    at = map.find('\n', at) + 1;
  }
  kv_test::WriteFile(dir.File("lines.vfm"), map);
  kv_test::WriteFile(dir.File("lines.avs"),
                     "LoadPlugin(\"qmaudio_lpcm.dll\")\r\nqmAudioLPCMSource(\"lines.vfm\", "
                     "samplerate=48000, samplebits=16, channels=2)\r\n");
  kv_test::ServedClip ours = kv_test::Serve(dir.File("lines.avs"), kv_test::Pictures::kNone, true);
  ASSERT_EQ(ours.error, "");
  std::vector<float> expected(theirs.begin(), theirs.begin() + 9880 * 2);
  expected.resize(14696 * 2, 0.0f);
  expected.insert(expected.end(), theirs.begin() + 9880 * 2, theirs.begin() + (9880 + 7480) * 2);
  expected.insert(expected.end(), theirs.begin() + 19760 * 2, theirs.end());
  ASSERT_EQ(ours.sound.size(), expected.size());
  EXPECT_EQ(std::memcmp(ours.sound.data(), expected.data(), expected.size() * sizeof(float)), 0);
}

TEST_F(QmAudio, BadArgumentsAndMissingMapsAreScriptErrors) {
  const Stream& ac3 = kStreams[0];
  const Stream& lpcm = kStreams[2];
  struct Case {
    const Stream& stream;
    std::string call;
    std::string error;
  };
  for (const Case& c : {
           Case{ac3, "qmAudioAC3Source(\"" + MapName(ac3) + "\", channels=3)",
                "line 2, column 1: qmAudioAC3Source: channels must be 1, 2 or 6"},
           Case{ac3, "qmAudioAC3Source(\"gone_at0.vfm\")", "cannot find the audio map"},
           Case{ac3, "qmAudioAC3Source(\"" + Title(ac3).key + ".qmvi\")",
                "is not a complete audio map"},
           Case{lpcm, "qmAudioLPCMSource(\"" + MapName(lpcm) + "\", samplebits=18)",
                "samplebits must be 16, 20 or 24"},
           // A map of another kind of stream holds no frame of this one.
           Case{ac3,
                "LoadPlugin(\"qmaudio_dts.dll\")\r\nqmAudioDTSSource(\"" + MapName(ac3) + "\")",
                "holds no audio frame of its kind"},
       }) {
    kv_test::ServedClip clip = kv_test::Serve(Script(c.stream, "bad.avs", c.call + "\r\n"),
                                              kv_test::Pictures::kNone, false);
    EXPECT_NE(clip.error.find(c.error), std::string::npos) << c.call << ": " << clip.error;
  }
}

// Instants in seconds where a 1 kHz tone starts after at least half a
// second of silence (any channel above 0.05).
std::vector<double> ToneOnsets(const kv_test::ServedClip& clip) {
  std::vector<double> onsets;
  int64_t quiet_since = 0;
  for (int64_t i = 0; i < clip.samples; ++i) {
    float peak = 0;
    for (int c = 0; c < clip.channels; ++c)
      peak = std::max(peak, std::fabs(clip.sound[static_cast<size_t>(i * clip.channels + c)]));
    if (peak < 0.05f) continue;
    if (i - quiet_since > clip.audio_rate / 2)
      onsets.push_back(static_cast<double>(i) / clip.audio_rate);
    quiet_since = i;
  }
  return onsets;
}

TEST_F(QmAudio, ToneAndFlashStayTogetherThroughAJobScript) {
  // The job script's sound lines with the stream's own delay, PAL speed-up
  // to 24 frames per second, and a volume cut out of the middle.
  for (const Stream& s : kStreams) {
    if (std::string(s.disc) != "pal_sync") continue;
    SCOPED_TRACE(SourceLine(s));
    char delay[32];
    std::snprintf(
        delay, sizeof delay, "%f",
        static_cast<double>(static_cast<float>(Title(s).status.audio[s.number].delayMs) * 0.001f));
    kv_test::ServedClip clip = kv_test::Serve(
        Script(s, "out02.avs",
               "LoadPlugin(\"qmvideo.dll\")\r\n\r\nvideo = qmVideoSource(\"" + Title(s).key +
                   ".qmvi\", idct=4, force_film=false)\r\n\r\naudio = " + SourceLine(s) +
                   "\r\n\r\nAudioDub(video, DelayAudio(audio, " + delay +
                   "))\r\nAssumeFPS(24, sync_audio=true)\r\nTrim(40, 219)\r\n"),
        kv_test::Pictures::kMeanLuma, true);
    ASSERT_EQ(clip.error, "");
    ASSERT_EQ(clip.frames, 180);
    std::vector<double> flashes;
    for (size_t n = 0; n < clip.mean_luma.size(); ++n)
      if (clip.mean_luma[n] > 128) flashes.push_back(static_cast<double>(n) / 24);
    // Flashes at 75, 125 and 175 of the title's frames: 35, 85, 135 here.
    ASSERT_EQ(flashes, (std::vector<double>{35 / 24.0, 85 / 24.0, 135 / 24.0}));
    const std::vector<double> onsets = ToneOnsets(clip);
    ASSERT_EQ(onsets.size(), flashes.size());
    for (size_t i = 0; i < flashes.size(); ++i) EXPECT_NEAR(onsets[i], flashes[i], 1 / 24.0) << i;
  }
}

}  // namespace
