// The job writer's scripts for the sample titles, opened as the encoder opens
// them: through the video-file layer, which finds the frameserver by the
// program's installation in the registry store and the system folder. Each
// volume serves the output size and its share of the frames; the volumes
// together serve the frames of the whole title, each exactly once; the sound
// keeps time with the picture.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/frameserver_install.h"
#include "outside/frameserver/video_file.h"
#include "platform/folders.h"
#include "platform/registry_store.h"
#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/analysed_disc.h"
#include "wizard/job_writer.h"
#include "wizard/title_preparation.h"

namespace {

namespace fs = std::filesystem;
using wizard::JobSettings;
using wizard::WizardState;

bool InstallFrameserver() {
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  app::FrameserverInstallation installation(*store, platform::SystemFolder());
  return installation.InstallFrameserver(KV_PROGRAM_FOLDER);
}

uint32_t Crc(const uint8_t* row, size_t length, uint32_t crc) {
  return static_cast<uint32_t>(crc32(crc, row, static_cast<uInt>(length)));
}

// CRC-32 over the visible bytes of every plane.
uint32_t FrameCrc(const kvfs_frame& f) {
  uint32_t crc = 0;
  if (f.pixel_format == KVFS_PIXEL_BGR24) {
    for (int y = 0; y < f.height; ++y)
      crc = Crc(f.data[0] + y * f.pitch[0], size_t(f.width) * 3, crc);
    return crc;
  }
  for (int plane = 0; plane < 3; ++plane) {
    const int w = plane == 0 ? f.width : f.width / 2;
    const int h = plane == 0 ? f.height : f.height / 2;
    for (int y = 0; y < h; ++y) crc = Crc(f.data[plane] + y * f.pitch[plane], size_t(w), crc);
  }
  return crc;
}

struct Served {
  kvfs_clip_info info{};
  std::vector<uint32_t> frames;  // CRC-32 of each frame asked for
  std::vector<int16_t> sound;    // all of it, interleaved, when asked for
  std::string error;
};

// Opens a script as the encoder does, reads the frames `wanted` gives for
// the clip's frame count and, with `sound`, all the sound.
Served Serve(const std::string& script,
             const std::function<std::vector<int64_t>(int64_t count)>& wanted, bool sound = false) {
  Served served;
  auto file = kv_video_file::VideoFile::Open(script, &served.error);
  if (!file) return served;
  served.info = file->Info();
  for (int64_t n : wanted(served.info.frame_count)) {
    const kvfs_frame* frame = file->Frame(n);
    if (frame == nullptr) {
      served.error = "frame " + std::to_string(n) + ": " + file->Error();
      return served;
    }
    served.frames.push_back(FrameCrc(*frame));
  }
  if (sound) {
    served.sound.resize(size_t(served.info.sample_count) * served.info.channels);
    if (!file->Audio(0, served.info.sample_count, KVFS_SAMPLE_S16, served.sound.data()))
      served.error = "sound: " + file->Error();
  }
  return served;
}

std::vector<int64_t> FirstAndLast(int64_t count) {
  return {0, count - 1};
}

// A sample title analysed and prepared in a job folder of its own, with the
// settings the configuration page proposes for it.
class ServedJob : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InstallFrameserver()); }

  // A job of its own for the title, in a folder of its own.
  void Prepare(const char* disc, int vts, int pgc) {
    label_ = std::string(disc) + " " + std::to_string(vts) + "/" + std::to_string(pgc);
    state_ = WizardState();
    const std::string folder =
        dir_.File(std::string(disc) + "_" + std::to_string(vts) + "_" + std::to_string(pgc));
    ASSERT_GT(kv_test::AnalyseSampleDisc(disc, folder + "/Job", state_), 0) << label_;
    // The job's decoder plug-in is the program folder's file itself (the
    // writer keeps it), so that the plug-in and the decoder this test links
    // for the preparation are one library in this process.
    fs::create_symlink(std::string(KV_PROGRAM_FOLDER) + "/qmvideo.dll", Data("qmvideo.dll"));
    state_.JobName = "Job";
    state_.SelVts = vts;
    state_.SelPgc = pgc;
    state_.SelAngle = 0;
    const wizard::PreparationResult prepared =
        wizard::PrepareTitle(wizard::PreparationInputFor(state_));
    ASSERT_TRUE(prepared.Ok) << label_ << ": " << prepared.Error;
    wizard::ApplyPreparation(state_, state_.Selection(), prepared);
    state_.Settings.InitialiseForTitle(wizard::FactsForTitle(state_.TitleSets[vts], pgc));
  }

  std::string Data(const std::string& name) const { return state_.JobDataFolder + name; }

  // Writes the volume scripts of the settings and serves them: each one the
  // output size and its share of the frames, and each begins and ends where
  // the one-volume script has those frames, so that the volumes together
  // serve every frame once.
  void ExpectVolumesServeTheTitle(const std::string& shape) {
    const std::string label = label_ + ", " + shape;
    JobSettings& s = state_.Settings;
    wizard::JobWriter writer(state_, KV_PROGRAM_FOLDER);
    ASSERT_TRUE(writer.WriteScripts(false)) << label;
    const int volumes = wizard::VolumeCountOf(s);
    const int share = wizard::FramesPerVolume(s);
    auto count_of = [&](int k) {
      return k < volumes ? share : s.FrameCount - (volumes - 1) * share;
    };

    JobSettings whole_settings = s;
    whole_settings.VolumeCount = 1;
    kv_test::WriteFile(Data("whole.avs"),
                       wizard::FormatScript(whole_settings, state_.TitleKey, 1, false));
    std::vector<int64_t> borders;
    for (int k = 1; k <= volumes; ++k) {
      borders.push_back(int64_t(k - 1) * share);
      borders.push_back(int64_t(k - 1) * share + count_of(k) - 1);
    }
    const Served whole = Serve(Data("whole.avs"), [&](int64_t) { return borders; });
    ASSERT_EQ(whole.error, "") << label;
    EXPECT_EQ(whole.info.width, s.OutputWidth) << label;
    EXPECT_EQ(whole.info.height, s.OutputHeight) << label;
    EXPECT_EQ(whole.info.frame_count, s.FrameCount) << label;
    ExpectSound(whole.info, false, label);

    for (int k = 1; k <= volumes; ++k) {
      fs::remove(Data("avsdebug"));
      const Served volume = Serve(Data(wizard::VolumeScriptName(k)), FirstAndLast);
      ASSERT_EQ(volume.error, "") << label << ", volume " << k;
      EXPECT_EQ(volume.info.width, s.OutputWidth) << label;
      EXPECT_EQ(volume.info.height, s.OutputHeight) << label;
      EXPECT_EQ(volume.info.frame_count, count_of(k)) << label << ", volume " << k;
      ExpectSound(volume.info, k < volumes, label + ", volume " + std::to_string(k));
      ASSERT_EQ(volume.frames.size(), 2u);
      EXPECT_EQ(volume.frames[0], whole.frames[2 * (k - 1)]) << label << ", volume " << k;
      EXPECT_EQ(volume.frames[1], whole.frames[2 * (k - 1) + 1]) << label << ", volume " << k;
      // Opening the clip marks the start for the encoder control.
      EXPECT_EQ(kv_test::ReadFile(Data("avsdebug")).rfind("Kestrevane", 0), 0u)
          << label << ", volume " << k;
    }
  }

  // The sound of a clip: the channels of the chosen mode (an LPCM stream
  // keeps its own); a clip cut out of the title has it for exactly its
  // duration.
  void ExpectSound(const kvfs_clip_info& info, bool cut, const std::string& label) {
    const JobSettings& s = state_.Settings;
    if (!s.HasAudio) {
      EXPECT_EQ(info.audio_rate, 0) << label;
      return;
    }
    ASSERT_GT(info.audio_rate, 0) << label;
    const wizard::PgcAudioEntry& stream = s.Facts.AudioStreams.at(s.AudioTrack);
    const int channels[] = {1, 2, 2, 6};
    EXPECT_EQ(info.channels,
              stream.Format == 4 ? stream.Channels : channels[static_cast<int>(s.ChannelMode)])
        << label;
    if (!cut) return;
    const double seconds = double(info.frame_count) * info.fps_denominator / info.fps_numerator;
    EXPECT_NEAR(double(info.sample_count) / info.audio_rate, seconds, 0.5 / 25) << label;
  }

  // pal_sync shows a white frame at 1, 3, 5, 7 and 9 s and every stream
  // sounds a tone at the same instants after its own delay: in volume
  // `volume` of the written scripts each flash it shows has its tone, so
  // the delay line put the sound where the picture is (also when TruSpeed
  // slows both).
  void ExpectTonesWithFlashes(int volume, const std::string& shape) {
    const std::string label = label_ + ", " + shape + ", volume " + std::to_string(volume);
    const JobSettings& s = state_.Settings;
    const Served served = Serve(
        Data(wizard::VolumeScriptName(volume)), [](int64_t) { return std::vector<int64_t>(); },
        true);
    ASSERT_EQ(served.error, "") << label;
    const int channels = served.info.channels;
    const int rate = served.info.audio_rate;
    ASSERT_GT(channels, 0) << label;
    ASSERT_GT(rate, 0) << label;
    const int16_t* samples = served.sound.data();
    const size_t frames = size_t(served.info.sample_count);
    // Tone onsets: a loud sample after at least half a second of quiet.
    std::vector<double> onsets;
    size_t quiet_since = 0;
    for (size_t i = 0; i < frames; ++i) {
      int loudest = 0;
      for (int c = 0; c < channels; ++c)
        loudest = std::max(loudest, std::abs(int(samples[i * channels + c])));
      if (loudest < 1600) continue;
      if (i - quiet_since >= size_t(rate) / 2 || (onsets.empty() && i == quiet_since))
        onsets.push_back(double(i) / rate);
      quiet_since = i + 1;
    }
    const int share = wizard::FramesPerVolume(s);
    const int first = (volume - 1) * share;
    const int last = volume < wizard::VolumeCountOf(s) ? volume * share : s.FrameCount;
    std::vector<double> flashes;
    for (int seconds : {1, 3, 5, 7, 9}) {
      const int frame = seconds * 25;  // in the title at 25 frames a second
      if (frame >= first && frame < last) flashes.push_back((frame - first) / double(s.FrameRate));
    }
    // A tone that starts within a frame of the end belongs to the next volume.
    const double end = (last - first - 1.5) / s.FrameRate;
    std::erase_if(onsets, [end](double t) { return t >= end; });
    std::erase_if(flashes, [end](double t) { return t >= end; });
    ASSERT_EQ(onsets.size(), flashes.size())
        << label << ": onsets " << ::testing::PrintToString(onsets) << ", flashes "
        << ::testing::PrintToString(flashes);
    ASSERT_FALSE(flashes.empty()) << label;
    for (size_t i = 0; i < flashes.size(); ++i)
      EXPECT_NEAR(onsets[i], flashes[i], 0.5 / s.FrameRate) << label << ", flash " << i;
  }

  kv_test::TempDir dir_{"kv-writer-serve"};
  WizardState state_;
  std::string label_;
};

// The proposals for every sample title, in three volumes.
TEST_F(ServedJob, ProposedSettingsOfEverySampleTitle) {
  std::vector<kv_test::SampleTitle> titles = kv_test::AllSampleTitles();
  titles.push_back({"pal_sync", 1, 1});
  titles.push_back({"pal_long", 1, 1});
  for (const kv_test::SampleTitle& t : titles) {
    Prepare(t.disc, t.vts, t.pgc);
    if (HasFatalFailure()) return;
    state_.Settings.SetVolumeCount(3);
    ExpectVolumesServeTheTitle("proposed settings");
  }
}

// The variants of the script lines on the titles that have them.
TEST_F(ServedJob, VariantsOfTheLines) {
  JobSettings& s = state_.Settings;
  ASSERT_NO_FATAL_FAILURE(Prepare("pal_letterbox", 1, 1));
  ASSERT_EQ(s.CropMode, wizard::CropModeKind::Auto);
  s.SetVolumeCount(2);
  s.HasAudio = false;
  ExpectVolumesServeTheTitle("cropped by the detected borders");
  s.CropMode = wizard::CropModeKind::Disabled;
  s.AutoResize();
  ExpectVolumesServeTheTitle("not cropped");
  s.CropMode = wizard::CropModeKind::Manual;
  s.CropRect = {80, 16, 688, 400};
  s.ResizeMode = wizard::ResizeModeKind::Manual;
  s.OutputWidth = 320;
  s.OutputHeight = 192;
  s.SetPalTruSpeed(true);
  ExpectVolumesServeTheTitle("cropped by hand, PAL TruSpeed");

  // The preview: the whole title at the output size, no start mark.
  fs::remove(Data("avsdebug"));
  wizard::JobWriter writer(state_, KV_PROGRAM_FOLDER);
  {
    ASSERT_TRUE(writer.WriteScripts(true));
    const Served preview = Serve(state_.PreviewScriptPath, FirstAndLast);
    ASSERT_EQ(preview.error, "");
    EXPECT_EQ(preview.info.width, 320);
    EXPECT_EQ(preview.info.height, 192);
    EXPECT_EQ(preview.info.frame_count, s.FrameCount);
    EXPECT_EQ(preview.info.fps_numerator, 24u * preview.info.fps_denominator);
    EXPECT_FALSE(fs::exists(Data("avsdebug")));
  }
  s.HasAudio = true;
  ExpectVolumesServeTheTitle("PAL TruSpeed with its sound");

  ASSERT_NO_FATAL_FAILURE(Prepare("ntsc_multi", 1, 1));
  ASSERT_EQ(s.Facts.AudioStreams.size(), 3u);
  ASSERT_EQ(s.Facts.SubtitleStreams.size(), 1u);
  s.SetVolumeCount(2);
  s.SubtitlesEnabled = true;
  s.DeinterlaceFull = true;
  ExpectVolumesServeTheTitle("subtitles, full deinterlacing, Dolby Digital");
  s.SelectAudioTrack(1);
  s.GainEnabled = true;
  s.GainStep = -30;
  ExpectVolumesServeTheTitle("LPCM with gain");
  s.SelectAudioTrack(2);
  s.SelectChannelMode(wizard::ChannelModeKind::Mono);
  s.Deinterlace = false;
  s.ApplyFilterFrameRate();
  ExpectVolumesServeTheTitle("MPEG-1 in mono, no deinterlacing");

  // Each audio format, delayed as its stream is, with the tone at the flash.
  ASSERT_NO_FATAL_FAILURE(Prepare("pal_sync", 1, 1));
  ASSERT_EQ(s.Facts.AudioStreams.size(), 4u);
  s.SetVolumeCount(2);
  const wizard::ChannelModeKind modes[] = {
      wizard::ChannelModeKind::Multichannel, wizard::ChannelModeKind::Surround,
      wizard::ChannelModeKind::Stereo, wizard::ChannelModeKind::Mono};
  for (int track = 0; track < 4; ++track) {
    s.SelectAudioTrack(track);
    s.SelectChannelMode(modes[track]);
    const std::string shape = "audio track " + std::to_string(track);
    ExpectVolumesServeTheTitle(shape);
    if (track == 0) ExpectTonesWithFlashes(1, shape);
    ExpectTonesWithFlashes(2, shape);
  }
  s.SetPalTruSpeed(true);
  ExpectVolumesServeTheTitle("MPEG-1 at PAL TruSpeed");
  ExpectTonesWithFlashes(2, "MPEG-1 at PAL TruSpeed");

  // Field matching where most of the title is film: Decimate drops one
  // frame in five, as the settings count.
  ASSERT_NO_FATAL_FAILURE(Prepare("ntsc_mixed", 1, 1));
  s.SetVolumeCount(2);
  s.HasAudio = false;
  for (const float film : {97.0f, 60.0f}) {
    s.Facts.FilmShare = film;
    s.Ivtc = s.IvtcComplex = s.IvtcDecimate = true;
    s.ApplyFilterFrameRate();
    s.AutoResize();
    ExpectVolumesServeTheTitle("field matching at film share " + std::to_string(int(film)));
  }
}

// Field matching where most of the title is video (film share below 50):
// the settings keep the frame rate and the frame count (no decimation), and
// the script's Decimate(mode=1) blends rather than drops, so the volumes'
// Trim ranges meet the clip's frames.
TEST_F(ServedJob, FieldMatchingOfMostlyVideoKeepsTheFrameCount) {
  JobSettings& s = state_.Settings;
  ASSERT_NO_FATAL_FAILURE(Prepare("ntsc_mixed", 1, 1));
  s.SetVolumeCount(2);
  s.HasAudio = false;
  s.Facts.FilmShare = 20;
  s.Ivtc = s.IvtcComplex = true;
  s.IvtcDecimate = false;
  s.ApplyFilterFrameRate();
  s.AutoResize();
  ASSERT_EQ(s.FrameCount, s.SourceFrameCount);
  ExpectVolumesServeTheTitle("field matching at film share 20");
}

}  // namespace
