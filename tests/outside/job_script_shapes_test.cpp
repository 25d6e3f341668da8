// The job writer's scripts, in every shape it writes, served through the
// installed frameserver with the plug-ins of the program folder: each volume
// opens, has the size, rate, length and sound its settings give, and serves
// its first, middle and last frames and its sound from start to end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "outside/frameserver/video_file.h"
#include "tests/outside/plugin_test_util.h"
#include "tests/support/temp_dir.h"
#include "wizard/job_writer.h"

namespace {

using kv_test::PluginTitle;
using wizard::ChannelModeKind;
using wizard::CropModeKind;
using wizard::JobSettings;

enum Format { kAc3 = 1, kDts = 2, kMpa = 3, kLpcm = 4 };

struct Shape {
  const char* name;
  const char* disc;
  int displayed_frames;  // of the title with repeated fields shown
  // Changes the settings of a plain title; returns the frames served.
  std::function<int(JobSettings&)> set;
  uint32_t fps_num, fps_den;
  int channels;  // 0: no sound
};

void AddAudio(JobSettings& s, const PluginTitle& t, int stream, int format, int channels,
              ChannelModeKind mode) {
  wizard::PgcAudioEntry a;
  a.StreamNumber = stream;
  a.Format = format;
  a.Channels = channels;
  a.DelayMs = t.status.audio[stream].delayMs;
  a.BitsPerSample = t.status.audio[stream].bitsPerSample;
  a.SampleRate = t.status.audio[stream].sampleRate;
  s.Facts.AudioStreams.push_back(a);
  s.HasAudio = true;
  s.AudioTrack = static_cast<int>(s.Facts.AudioStreams.size()) - 1;
  s.ChannelMode = mode;
}

class JobScriptShapes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new kv_test::TempDir("kv-job-shapes");
    for (const char* disc : {"pal_sync", "ntsc_film", "ntsc_mixed", "ntsc_multi"}) {
      kv_test::MakeFolders(folder_->File(disc));
      ASSERT_TRUE(kv_test::PreparePluginTitle(folder_->File(disc), disc, 1, 1, &titles_[disc]));
    }
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(kv_test::InstallFrameserver()); }

  static kv_test::TempDir* folder_;
  static std::map<std::string, PluginTitle> titles_;
};
kv_test::TempDir* JobScriptShapes::folder_ = nullptr;
std::map<std::string, PluginTitle> JobScriptShapes::titles_;

TEST_F(JobScriptShapes, EveryShapeServesPictureAndSound) {
  const PluginTitle& pal = titles_["pal_sync"];
  const PluginTitle& multi = titles_["ntsc_multi"];
  const std::vector<Shape> shapes = {
      {"plain picture", "pal_sync", 250, [](JobSettings&) { return 250; }, 25, 1, 0},
      {"deinterlaced, cropped, AC-3 5.1 with gain and delay, PAL speed-up, 3 volumes", "pal_sync",
       250,
       [&](JobSettings& s) {
         s.Deinterlace = true;
         s.CropMode = CropModeKind::Manual;
         s.CropRect = {16, 8, 704, 544};
         AddAudio(s, pal, 0, kAc3, 6, ChannelModeKind::Multichannel);
         s.GainEnabled = true;
         s.GainStep = -30;
         s.PalTruSpeed = true;
         s.VolumeCount = 3;
         return 250;
       },
       24, 1, 6},
      {"deinterlaced fully, DTS to mono", "pal_sync", 250,
       [&](JobSettings& s) {
         s.Deinterlace = s.DeinterlaceFull = true;
         AddAudio(s, pal, 1, kDts, 6, ChannelModeKind::Mono);
         return 250;
       },
       25, 1, 1},
      {"24-bit LPCM", "pal_sync", 250,
       [&](JobSettings& s) {
         AddAudio(s, pal, 2, kLpcm, 2, ChannelModeKind::Stereo);
         return 250;
       },
       25, 1, 2},
      {"MPEG audio, surround", "pal_sync", 250,
       [&](JobSettings& s) {
         AddAudio(s, pal, 3, kMpa, 2, ChannelModeKind::Surround);
         return 250;
       },
       25, 1, 2},
      {"simple inverse telecine", "ntsc_film", 300,
       [](JobSettings& s) {
         s.Ivtc = true;
         return 240;
       },
       24000, 1001, 0},
      {"complex inverse telecine of film, 2 volumes", "ntsc_film", 300,
       [](JobSettings& s) {
         s.Ivtc = s.IvtcComplex = s.TopFieldFirst = true;
         s.Facts.FilmShare = 100;
         s.VolumeCount = 2;
         return 240;
       },
       24000, 1001, 0},
      {"complex inverse telecine of mixed film, deinterlaced", "ntsc_mixed", 270,
       [](JobSettings& s) {
         s.Ivtc = s.IvtcComplex = s.TopFieldFirst = s.Deinterlace = true;
         s.Facts.FilmShare = 60;
         return 216;
       },
       24000, 1001, 0},
      {"complex inverse telecine of mostly video", "ntsc_mixed", 270,
       [](JobSettings& s) {
         s.Ivtc = s.IvtcComplex = s.TopFieldFirst = true;
         s.Facts.FilmShare = 30;
         return 270;
       },
       30000, 1001, 0},
      {"subtitles, AC-3 5.1 to stereo, 16-bit LPCM kept aside", "ntsc_multi", 300,
       [&](JobSettings& s) {
         AddAudio(s, multi, 1, kLpcm, 2, ChannelModeKind::Stereo);
         AddAudio(s, multi, 0, kAc3, 6, ChannelModeKind::Stereo);
         s.Facts.SubtitleStreams.push_back({0, 0x656E});
         s.HasSubtitles = s.SubtitlesEnabled = true;
         s.CropMode = CropModeKind::Manual;
         s.CropRect = {0, 8, 704, 480};
         return 300;
       },
       30000, 1001, 2},
  };
  for (const Shape& shape : shapes) {
    for (bool preview : {false, true}) {
      SCOPED_TRACE(std::string(shape.name) + (preview ? ", preview" : ""));
      const PluginTitle& t = titles_[shape.disc];
      JobSettings s;
      s.Facts.PictureWidth = 720;
      s.Facts.PictureHeight = std::string(shape.disc).rfind("pal", 0) == 0 ? 576 : 480;
      s.OutputWidth = 640;
      s.OutputHeight = 480;
      s.EncodeMode = wizard::EncodeModeKind::FixedSize;
      const int frames = shape.set(s);
      s.FrameCount = frames;
      const int volumes = preview ? 1 : wizard::VolumeCountOf(s);
      for (int k = 1; k <= volumes; ++k) {
        const std::string text = wizard::FormatScript(s, t.key, k, preview);
        ASSERT_FALSE(text.empty());
        const std::string path = t.folder + "/" + wizard::VolumeScriptName(k);
        kv_test::WriteFile(path, text);
        unlink((t.folder + "/avsdebug").c_str());
        std::string error;
        auto file = kv_video_file::VideoFile::Open(path, &error);
        ASSERT_TRUE(file) << error << "\n" << text;
        const kvfs_clip_info& info = file->Info();
        const int per_volume = frames / volumes;
        EXPECT_EQ(info.frame_count, k < volumes ? per_volume : frames - (volumes - 1) * per_volume)
            << k;
        EXPECT_EQ(info.width, 640);
        EXPECT_EQ(info.height, 480);
        EXPECT_EQ(info.pixel_format, KVFS_PIXEL_I420);
        EXPECT_EQ(info.fps_numerator, shape.fps_num);
        EXPECT_EQ(info.fps_denominator, shape.fps_den);
        EXPECT_EQ(info.channels, shape.channels);
        EXPECT_EQ(access((t.folder + "/avsdebug").c_str(), F_OK) == 0, !preview);
        for (int64_t n : {int64_t{0}, info.frame_count / 2, info.frame_count - 1})
          ASSERT_TRUE(file->Frame(n)) << n << ": " << file->Error();
        if (shape.channels > 0) {
          // The sound lasts as long as the picture, within a frame of audio.
          const double seconds =
              static_cast<double>(info.frame_count) * info.fps_denominator / info.fps_numerator;
          EXPECT_NEAR(static_cast<double>(info.sample_count) / info.audio_rate, seconds, 0.05);
          std::vector<float> sound(static_cast<size_t>(info.audio_rate) * info.channels);
          for (int64_t at : {int64_t{0}, info.sample_count - info.audio_rate})
            ASSERT_TRUE(file->Audio(at, info.audio_rate, KVFS_SAMPLE_FLOAT, sound.data()))
                << file->Error();
        }
      }
    }
  }
}

}  // namespace
