// The job writer's scripts line by line for every variant of their lines,
// and the files it leaves in a job's data folder.
#include "wizard/job_writer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry_access.h"
#include "queue/job_file.h"
#include "queue/job_store.h"
#include "tests/support/plain_job_settings.h"
#include "tests/support/recorders.h"
#include "tests/support/scoped_registry.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/fake_wizard_host.h"
#include "wizard/encoder_job_file.h"
#include "wizard/wizard_frame.h"
#include "wizard/writer_steps.h"

namespace {

using wizard::CropModeKind;
using wizard::EncodeModeKind;
using wizard::JobSettings;

constexpr const char* kKey = "vts01_pgc01_a0";

using kv_test::AudioStream;
using kv_test::PlainJobSettings;

void UseAudio(JobSettings& s, wizard::PgcAudioEntry a, wizard::ChannelModeKind mode) {
  s.Facts.AudioStreams = {AudioStream(0, 1, 6), a};
  s.HasAudio = true;
  s.AudioTrack = 1;
  s.ChannelMode = mode;
}

// The sections of a script; a case states only those that differ from the
// plain one-volume script.
struct Sections {
  std::vector<std::string> loads = {"LoadPlugin(\"qmvideo.dll\")"};
  std::vector<std::string> source = {
      "video = qmVideoSource(\"vts01_pgc01_a0.qmvi\", idct=4, force_film=false)"};
  std::string resize = "video = LanczosResize(video, 640, 352)";
  std::vector<std::string> subtitles;
  std::vector<std::string> audio;  // with its empty line
  std::string join = "video";
  std::vector<std::string> tail = {"",
                                   "WriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")"};
};

std::string Text(const Sections& x) {
  std::vector<std::string> lines = x.loads;
  lines.push_back("");
  lines.insert(lines.end(), x.source.begin(), x.source.end());
  lines.push_back(x.resize);
  lines.insert(lines.end(), x.subtitles.begin(), x.subtitles.end());
  lines.push_back("");
  lines.insert(lines.end(), x.audio.begin(), x.audio.end());
  lines.push_back(x.join);
  lines.insert(lines.end(), x.tail.begin(), x.tail.end());
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

const std::string kDecomb = "LoadPlugin(\"Decomb.dll\")";
const std::string kForceFilm =
    "video = qmVideoSource(\"vts01_pgc01_a0.qmvi\", idct=4, force_film=true)";
const std::string kSource = Sections().source[0];
const std::string kStartMark = Sections().tail[1];

struct ScriptCase {
  const char* name;
  std::function<void(JobSettings&)> set;
  std::function<void(Sections&)> expect;
  std::vector<std::string> plugins = {"qmvideo.dll"};
};

std::vector<ScriptCase> ScriptCases() {
  auto complex = [](float film, bool top) {
    return [=](JobSettings& s) {
      s.Ivtc = s.IvtcComplex = true;
      s.Facts.FilmShare = film;
      s.TopFieldFirst = top;
    };
  };
  auto telecide = [](const std::string& line) {
    return [=](Sections& x) {
      x.loads.push_back(kDecomb);
      x.source = {kSource, line};
    };
  };
  const std::vector<std::string> with_decomb = {"qmvideo.dll", "Decomb.dll"};
  return {
      {"plain", [](JobSettings&) {}, [](Sections&) {}},
      {"simple inverse telecine",
       [](JobSettings& s) {
         s.Ivtc = true;
         s.Facts.FilmShare = 98;
       },
       [](Sections& x) { x.source = {kForceFilm}; }, with_decomb},
      {"simple inverse telecine ignores deinterlacing",
       [](JobSettings& s) { s.Ivtc = s.Deinterlace = s.DeinterlaceFull = true; },
       [](Sections& x) {
         x.loads.push_back(kDecomb);
         x.source = {kForceFilm};
       },
       with_decomb},
      {"complex, film share 100, top field first", complex(100, true),
       telecide("video = Telecide(video, order=1).Decimate(cycle=5)"), with_decomb},
      {"complex, film share 95, bottom field first", complex(95, false),
       telecide("video = Telecide(video, order=0).Decimate(cycle=5)"), with_decomb},
      {"complex, film share 94.9", complex(94.9f, true),
       telecide("video = Telecide(video, order=1, guide=1).Decimate(mode=3, threshold=1.0)"),
       with_decomb},
      {"complex, film share 50", complex(50, false),
       telecide("video = Telecide(video, order=0, guide=1).Decimate(mode=3, threshold=1.0)"),
       with_decomb},
      {"complex, film share 49.9", complex(49.9f, true),
       telecide("video = Telecide(video, order=1, guide=1).Decimate(mode=1, threshold=1.0)"),
       with_decomb},
      {"complex with full deinterlacing",
       [complex](JobSettings& s) {
         complex(60, true)(s);
         s.Deinterlace = s.DeinterlaceFull = true;
       },
       [](Sections& x) {
         x.loads.push_back(kDecomb);
         x.source = {kSource,
                     "video = Telecide(video, order=1, guide=1).Decimate(mode=3, threshold=1.0)",
                     "video = FieldDeinterlace(video, full=true)"};
       },
       with_decomb},
      {"deinterlacing alone", [](JobSettings& s) { s.Deinterlace = true; },
       [](Sections& x) {
         x.loads.push_back(kDecomb);
         x.source = {kSource, "video = FieldDeinterlace(video, full=false)"};
       },
       with_decomb},
      {"manual crop",
       [](JobSettings& s) {
         s.CropMode = CropModeKind::Manual;
         s.CropRect = {72, 0, 720, 432};
       },
       [](Sections& x) { x.resize = "video = LanczosResize(video, 640, 352, 0, 72, 720, 432)"; }},
      {"automatic crop from the left edge only",
       [](JobSettings& s) {
         s.CropMode = CropModeKind::Auto;
         s.CropRect = {0, 8, 704, 576};
       },
       [](Sections& x) { x.resize = "video = LanczosResize(video, 640, 352, 8, 0, 704, 576)"; }},
      {"manual crop of the whole picture",
       [](JobSettings& s) {
         s.CropMode = CropModeKind::Manual;
         s.CropRect = {0, 0, 720, 576};
       },
       [](Sections&) {}},
      {"disabled crop with a rectangle set",
       [](JobSettings& s) {
         s.CropRect = {72, 0, 720, 432};
       },
       [](Sections&) {}},
      {"subtitles",
       [](JobSettings& s) {
         s.Facts.SubtitleStreams = {{0, 0x656E}, {3, 0x6672}};
         s.HasSubtitles = s.SubtitlesEnabled = true;
         s.SubtitleTrack = 1;
       },
       [](Sections& x) {
         x.loads.push_back("LoadPlugin(\"VSFilter.dll\")");
         x.subtitles = {"video = VobSub(video, \"vts01_pgc01_a0_st3.idx\")"};
       },
       {"qmvideo.dll", "VSFilter.dll"}},
      {"subtitles not burnt in",
       [](JobSettings& s) {
         s.Facts.SubtitleStreams = {{0, 0x656E}};
         s.HasSubtitles = true;
       },
       [](Sections&) {}},
      {"Dolby Digital, stereo",
       [](JobSettings& s) { UseAudio(s, AudioStream(2, 1, 6), wizard::ChannelModeKind::Stereo); },
       [](Sections& x) {
         x.loads.push_back("LoadPlugin(\"qmaudio_ac3.dll\")");
         x.audio = {"audio = qmAudioAC3Source(\"vts01_pgc01_a0_at2.vfm\", channels=2)", ""};
         x.join = "AudioDub(video, audio)";
       },
       {"qmvideo.dll", "qmaudio_ac3.dll"}},
      {"DTS, multichannel",
       [](JobSettings& s) {
         UseAudio(s, AudioStream(1, 2, 6), wizard::ChannelModeKind::Multichannel);
       },
       [](Sections& x) {
         x.loads.push_back("LoadPlugin(\"qmaudio_dts.dll\")");
         x.audio = {"audio = qmAudioDTSSource(\"vts01_pgc01_a0_at1.vfm\", channels=6)", ""};
         x.join = "AudioDub(video, audio)";
       },
       {"qmvideo.dll", "qmaudio_dts.dll"}},
      {"MPEG-1, mono",
       [](JobSettings& s) { UseAudio(s, AudioStream(7, 3, 2), wizard::ChannelModeKind::Mono); },
       [](Sections& x) {
         x.loads.push_back("LoadPlugin(\"qmaudio_mpa.dll\")");
         x.audio = {"audio = qmAudioMPASource(\"vts01_pgc01_a0_at7.vfm\", channels=1)", ""};
         x.join = "AudioDub(video, audio)";
       },
       {"qmvideo.dll", "qmaudio_mpa.dll"}},
      {"Dolby Digital, surround, delayed -80 ms",
       [](JobSettings& s) {
         UseAudio(s, AudioStream(0, 1, 6, -80), wizard::ChannelModeKind::Surround);
       },
       [](Sections& x) {
         x.loads.push_back("LoadPlugin(\"qmaudio_ac3.dll\")");
         x.audio = {"audio = qmAudioAC3Source(\"vts01_pgc01_a0_at0.vfm\", channels=2)", ""};
         x.join = "AudioDub(video, DelayAudio(audio, -0.080000))";
       },
       {"qmvideo.dll", "qmaudio_ac3.dll"}},
      {"LPCM with +12 dB, delayed 33 ms",
       [](JobSettings& s) {
         UseAudio(s, AudioStream(1, 4, 2, 33), wizard::ChannelModeKind::Mono);
         s.GainEnabled = true;
         s.GainStep = -60;
       },
       [](Sections& x) {
         x.loads.push_back("LoadPlugin(\"qmaudio_lpcm.dll\")");
         x.audio = {
             "audio = qmAudioLPCMSource(\"vts01_pgc01_a0_at1.vfm\", samplerate=48000, "
             "samplebits=16, channels=2)",
             "audio = AmplifydB(audio, 12.000000)", ""};
         x.join = "AudioDub(video, DelayAudio(audio, 0.033000))";
       },
       {"qmvideo.dll", "qmaudio_lpcm.dll"}},
      {"gain -1.4 dB",
       [](JobSettings& s) {
         UseAudio(s, AudioStream(0, 1, 2), wizard::ChannelModeKind::Stereo);
         s.GainEnabled = true;
         s.GainStep = 7;
       },
       [](Sections& x) {
         x.loads.push_back("LoadPlugin(\"qmaudio_ac3.dll\")");
         x.audio = {"audio = qmAudioAC3Source(\"vts01_pgc01_a0_at0.vfm\", channels=2)",
                    "audio = AmplifydB(audio, -1.400000)", ""};
         x.join = "AudioDub(video, audio)";
       },
       {"qmvideo.dll", "qmaudio_ac3.dll"}},
      {"gain step set but gain off",
       [](JobSettings& s) {
         UseAudio(s, AudioStream(0, 1, 2), wizard::ChannelModeKind::Stereo);
         s.GainStep = 30;
       },
       [](Sections& x) {
         x.loads.push_back("LoadPlugin(\"qmaudio_ac3.dll\")");
         x.audio = {"audio = qmAudioAC3Source(\"vts01_pgc01_a0_at0.vfm\", channels=2)", ""};
         x.join = "AudioDub(video, audio)";
       },
       {"qmvideo.dll", "qmaudio_ac3.dll"}},
      {"PAL TruSpeed", [](JobSettings& s) { s.PalTruSpeed = true; },
       [](Sections& x) { x.tail.insert(x.tail.begin(), "AssumeFPS(24, sync_audio=true)"); }},
      {"several volumes in average bit rate mode make one script",
       [](JobSettings& s) {
         s.EncodeMode = EncodeModeKind::AverageBitrate;
         s.VolumeCount = 3;
       },
       [](Sections&) {}},
      {"constant quality without split volumes",
       [](JobSettings& s) {
         s.EncodeMode = EncodeModeKind::ConstantQuality;
         s.SplitVolumes = false;
         s.VolumeCount = 2;
       },
       [](Sections&) {}},
  };
}

TEST(JobWriterScript, EveryVariantOfTheLines) {
  for (const ScriptCase& c : ScriptCases()) {
    JobSettings s = PlainJobSettings();
    c.set(s);
    Sections expected;
    c.expect(expected);
    EXPECT_EQ(wizard::FormatScript(s, kKey, 1, false), Text(expected)) << c.name;
    EXPECT_EQ(wizard::PluginFilesOf(s), c.plugins) << c.name;
    EXPECT_EQ(wizard::VolumeCountOf(s), 1) << c.name;
  }
}

TEST(JobWriterScript, PreviewFiltersFasterAndNeitherCutsNorMarksTheStart) {
  for (const ScriptCase& c : ScriptCases()) {
    JobSettings s = PlainJobSettings();
    c.set(s);
    s.VolumeCount = 3;  // several volumes: the preview still shows the whole title
    Sections expected;
    c.expect(expected);
    for (std::string& line : expected.source) {
      const size_t idct = line.find("idct=4");
      if (idct != std::string::npos) line.replace(idct, 6, "idct=6");
    }
    expected.resize.replace(expected.resize.find("Lanczos"), 7, "Bilinear");
    expected.tail.resize(expected.tail.size() - 2);
    EXPECT_EQ(wizard::FormatScript(s, kKey, 2, true), Text(expected)) << c.name;
  }
}

TEST(JobWriterScript, VolumesCutTheirShareOfTheFrames) {
  struct VolumeCase {
    int frame_count;
    int volumes;
    std::vector<std::string> trims;
  };
  for (const VolumeCase& c : {
           VolumeCase{300, 1, {}},
           VolumeCase{300, 3, {"Trim(0, 99)", "Trim(100, 199)", "Trim(200, 0)"}},
           VolumeCase{301, 2, {"Trim(0, 149)", "Trim(150, 0)"}},
           VolumeCase{
               20,
               10,
               {"Trim(0, 1)", "Trim(2, 3)", "Trim(4, 5)", "Trim(6, 7)", "Trim(8, 9)",
                "Trim(10, 11)", "Trim(12, 13)", "Trim(14, 15)", "Trim(16, 17)", "Trim(18, 0)"}},
       }) {
    JobSettings s = PlainJobSettings();
    s.FrameCount = c.frame_count;
    s.VolumeCount = c.volumes;
    s.PalTruSpeed = true;
    ASSERT_EQ(wizard::VolumeCountOf(s), c.volumes);
    for (int k = 1; k <= c.volumes; ++k) {
      Sections expected;
      expected.tail.insert(expected.tail.begin(), "AssumeFPS(24, sync_audio=true)");
      if (c.volumes > 1) expected.tail.insert(expected.tail.begin() + 1, c.trims[k - 1]);
      EXPECT_EQ(wizard::FormatScript(s, kKey, k, false), Text(expected))
          << c.frame_count << " frames, volume " << k << " of " << c.volumes;
    }
  }
}

TEST(JobWriterScript, StreamsTheTitleDoesNotHaveWriteNoScript) {
  JobSettings s = PlainJobSettings();
  s.HasAudio = true;  // but no stream
  EXPECT_EQ(wizard::FormatScript(s, kKey, 1, false), "");
  s = PlainJobSettings();
  UseAudio(s, AudioStream(0, 0, 2), wizard::ChannelModeKind::Stereo);  // unknown format
  EXPECT_EQ(wizard::FormatScript(s, kKey, 1, false), "");
  s = PlainJobSettings();
  s.HasSubtitles = s.SubtitlesEnabled = true;
  s.Facts.SubtitleStreams = {{0, 0}};
  s.SubtitleTrack = 1;
  EXPECT_EQ(wizard::FormatScript(s, kKey, 1, false), "");
}

TEST(JobWriterNames, VolumeFilesAndOutputs) {
  EXPECT_EQ(wizard::VolumeScriptName(1), "out01.avs");
  EXPECT_EQ(wizard::VolumeScriptName(10), "out10.avs");
  EXPECT_EQ(wizard::VolumeJobFileName(2), "out02.rpjf");
  EXPECT_EQ(wizard::VolumeOutputPath("Holiday", 1, 1), "../Holiday.rmvb");
  EXPECT_EQ(wizard::VolumeOutputPath("Holiday", 2, 3), "../Holiday (2of3).rmvb");
  EXPECT_EQ(wizard::VolumeOutputPath("My Film", 10, 10), "../My Film (10of10).rmvb");
  EXPECT_EQ(wizard::SubtitleDataFileName("vts02_pgc03_a1", 12), "vts02_pgc03_a1_st12.sub");
}

// ------------------------------------------------------------ files on disk

using platform::MessageIcon;

// A job folder as the analysis and the title preparation leave it, a program
// folder with the plug-ins, and the queue.
class JobWriterFiles : public ::testing::Test {
 public:
  void SetUp() override {
    program_ = dir_.File("program/");
    for (const char* plugin : kPlugins) kv_test::WriteFile(program_ + plugin, plugin);
    state_.JobName = "Holiday";
    state_.JobFolder = dir_.File("jobs/Holiday");
    state_.JobDataFolder = state_.JobFolder + "/.kvnj/";
    state_.PreviewScriptPath = state_.JobDataFolder + "preview.avs";
    state_.SelVts = 1;
    state_.SelPgc = 1;
    state_.TitleKey = kKey;
    for (const char* file :
         {"vts01.d2v", "vts01_pgc01_a0.qmvi", "vts01_pgc01_a0.vfm", "vts01_pgc01_a0_at0.vfm",
          "vts01_pgc01_a0_st0.idx", "vts01_st0.sub", "vts01_pgc00_a0_st0.sub"})
      kv_test::WriteFile(Data(file), file);
    state_.TitleSets[1].SubtitleFiles[0] = "vts01_pgc00_a0_st0.sub";
    JobSettings& s = state_.Settings;
    s = PlainJobSettings();
    s.FrameRate = 25;
    s.TotalBitrate = 1077081.7;
    s.VolumeCount = 3;
    s.Deinterlace = true;
    UseAudio(s, AudioStream(0, 1, 2), wizard::ChannelModeKind::Stereo);
    s.Facts.AudioStreams.resize(1);
    s.AudioTrack = 0;
    s.AudioCodecRows = wizard::AudioCodecListOf(wizard::ChannelModeKind::Stereo);
    s.AudioCodecRow = 5;
    s.Facts.SubtitleStreams = {{0, 0x656E}};
    s.HasSubtitles = s.SubtitlesEnabled = true;
    ASSERT_TRUE(store_.InitJobRegistry());
  }

  std::string Data(const std::string& name) const { return state_.JobDataFolder + name; }

  // The names in the data folder, sorted.
  std::vector<std::string> DataFiles() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(state_.JobDataFolder))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  wizard::FinishResult Finish(const std::string& date = "1/2/26 10:11:12") {
    return wizard::FinishJob(state_, program_, date, [this](const std::string& folder) {
      return store_.AddJobFromFolder(folder);
    });
  }

  static constexpr const char* kPlugins[] = {
      "qmvideo.dll",     "Decomb.dll",      "VSFilter.dll",    "qmaudio_ac3.dll",
      "qmaudio_dts.dll", "qmaudio_mpa.dll", "qmaudio_lpcm.dll"};
  kv_test::TempDir dir_{"kv-writer"};
  kv_test::ScopedRegistry registry_;
  platform::RegistryAccess access_{registry_.Store(), platform::RegistryRoot::LocalMachine};
  queue::JobStore store_{access_};
  std::string program_;
  wizard::WizardState state_;
};

TEST_F(JobWriterFiles, FinishWritesACompleteJobAndQueuesIt) {
  const wizard::FinishResult result = Finish();
  EXPECT_TRUE(result.added);
  EXPECT_EQ(result.message, "");
  // Exactly the job's files beside the title's: three scripts and encoder job
  // files, the four plug-ins, the JobFile, the renamed sub-picture data.
  EXPECT_EQ(DataFiles(),
            (std::vector<std::string>{
                ".kvnj", "Decomb.dll", "VSFilter.dll", "out01.avs", "out01.rpjf", "out02.avs",
                "out02.rpjf", "out03.avs", "out03.rpjf", "qmaudio_ac3.dll", "qmvideo.dll",
                "vts01.d2v", "vts01_pgc01_a0.qmvi", "vts01_pgc01_a0.vfm", "vts01_pgc01_a0_at0.vfm",
                "vts01_pgc01_a0_st0.idx", "vts01_pgc01_a0_st0.sub", "vts01_st0.sub"}));
  EXPECT_EQ(kv_test::ReadFile(Data("vts01_pgc01_a0_st0.sub")), "vts01_pgc00_a0_st0.sub");
  EXPECT_EQ(state_.TitleSets[1].SubtitleFiles[0], "vts01_pgc01_a0_st0.sub");
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(kv_test::ReadFile(Data(wizard::VolumeScriptName(k))),
              wizard::FormatScript(state_.Settings, kKey, k, false));
    EXPECT_EQ(kv_test::ReadFile(Data(wizard::VolumeJobFileName(k))),
              wizard::FormatEncoderJobFile(wizard::EncoderJobFileValuesOf(
                  state_.Settings, wizard::VolumeScriptName(k),
                  "../Holiday (" + std::to_string(k) + "of3).rmvb")));
  }
  for (const char* plugin : {"qmvideo.dll", "Decomb.dll", "VSFilter.dll", "qmaudio_ac3.dll"})
    EXPECT_EQ(kv_test::ReadFile(Data(plugin)), plugin);
  EXPECT_EQ(kv_test::ReadFile(Data(".kvnj")),
            ".kvnj\r\n\r\nHoliday\r\n1/2/26 10:11:12\r\n0 / 3\r\n--\r\n--");
  ASSERT_EQ(store_.Jobs().size(), 1u);
  EXPECT_EQ(store_.Jobs()[0].Name, "Holiday");
  EXPECT_EQ(store_.Jobs()[0].Date, "1/2/26 10:11:12");
  EXPECT_EQ(queue::ProgressText(store_.Jobs()[0].Progress), "0 / 3");
  EXPECT_EQ(store_.Jobs()[0].Path, state_.JobFolder);
  EXPECT_EQ(store_.Jobs()[0].State, queue::JobState::Pending);
}

TEST_F(JobWriterFiles, SplitByTheEncoderWritesOneVolumeWithARollOverSize) {
  state_.Settings.EncodeMode = EncodeModeKind::AverageBitrate;
  state_.Settings.VolumeSizeMB = 650;
  state_.Settings.HasSubtitles = false;
  ASSERT_TRUE(Finish().added);
  const std::string script = kv_test::ReadFile(Data("out01.avs"));
  EXPECT_EQ(script.find("Trim"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Data("out02.avs")));
  EXPECT_FALSE(std::filesystem::exists(Data("out02.rpjf")));
  const std::string job = kv_test::ReadFile(Data("out01.rpjf"));
  EXPECT_NE(job.find("<filename type=\"string\">../Holiday.rmvb</filename>"), std::string::npos);
  EXPECT_NE(job.find("<destinationRollSize type=\"uint\">650</destinationRollSize>"),
            std::string::npos);
  EXPECT_EQ(queue::ProgressText(store_.Jobs().at(0).Progress), "0 / 1");
  // Without subtitles neither VSFilter.dll nor a renamed data file.
  EXPECT_FALSE(std::filesystem::exists(Data("VSFilter.dll")));
  EXPECT_TRUE(std::filesystem::exists(Data("vts01_pgc00_a0_st0.sub")));
}

TEST_F(JobWriterFiles, PreviewRenamesTheSubPictureDataOncePerTitle) {
  wizard::JobWriter writer(state_, program_);
  ASSERT_TRUE(writer.WriteScripts(true));
  EXPECT_EQ(kv_test::ReadFile(state_.PreviewScriptPath),
            wizard::FormatScript(state_.Settings, kKey, 1, true));
  EXPECT_EQ(DataFiles().size(), 12u);  // the title's 7 (one renamed), preview.avs, 4 plug-ins
  EXPECT_TRUE(std::filesystem::exists(Data("vts01_pgc01_a0_st0.sub")));
  // A file of the old name again: a second preview of the same stream does
  // not rename (which would now fail).
  kv_test::WriteFile(Data("vts01_pgc00_a0_st0.sub"), "other");
  ASSERT_TRUE(writer.WriteScripts(true));
  EXPECT_EQ(kv_test::ReadFile(Data("vts01_pgc01_a0_st0.sub")), "vts01_pgc00_a0_st0.sub");
  // Another program chain of the title set: its index names the data file
  // after its own key.
  state_.TitleKey = "vts01_pgc02_a0";
  ASSERT_TRUE(writer.WriteScripts(true));
  EXPECT_EQ(kv_test::ReadFile(Data("vts01_pgc02_a0_st0.sub")), "vts01_pgc00_a0_st0.sub");
  EXPECT_FALSE(std::filesystem::exists(Data("vts01_pgc01_a0_st0.sub")));
  EXPECT_EQ(state_.TitleSets[1].SubtitleFiles[0], "vts01_pgc02_a0_st0.sub");
}

TEST_F(JobWriterFiles, PluginsInTheJobAreKept) {
  kv_test::WriteFile(Data("qmvideo.dll"), "the job's own");
  wizard::JobWriter writer(state_, program_);
  ASSERT_TRUE(writer.WriteScripts(false));
  EXPECT_EQ(kv_test::ReadFile(Data("qmvideo.dll")), "the job's own");
  EXPECT_EQ(kv_test::ReadFile(Data("Decomb.dll")), "Decomb.dll");
}

TEST_F(JobWriterFiles, FailuresRemoveTheJobFolder) {
  struct FailureCase {
    const char* name;
    std::function<void(JobWriterFiles&)> set;
  };
  const FailureCase cases[] = {
      {"the data folder is gone",
       [](JobWriterFiles& t) { kv_test::RemoveTree(t.state_.JobDataFolder); }},
      {"a script cannot be created",
       [](JobWriterFiles& t) { kv_test::MakeFolders(t.Data("out02.avs")); }},
      {"a plug-in is missing from the program folder",
       [](JobWriterFiles& t) { std::filesystem::remove(t.program_ + "VSFilter.dll"); }},
      {"the sub-picture data file cannot be renamed",
       [](JobWriterFiles& t) { std::filesystem::remove(t.Data("vts01_pgc00_a0_st0.sub")); }},
      {"an encoder job file cannot be created",
       [](JobWriterFiles& t) { kv_test::MakeFolders(t.Data("out03.rpjf")); }},
      {"the JobFile cannot be created",
       [](JobWriterFiles& t) { kv_test::MakeFolders(t.Data(".kvnj")); }},
      {"too few frames for the volumes",
       [](JobWriterFiles& t) { t.state_.Settings.FrameCount = 5; }},
  };
  for (const FailureCase& c : cases) {
    SetUp();
    c.set(*this);
    const wizard::FinishResult result = Finish();
    EXPECT_FALSE(result.added) << c.name;
    EXPECT_TRUE(result.folder_removed) << c.name;
    EXPECT_EQ(result.message, "Unable to save job!") << c.name;
    EXPECT_EQ(result.icon, MessageIcon::Error) << c.name;
    EXPECT_FALSE(std::filesystem::exists(state_.JobFolder)) << c.name;
    EXPECT_TRUE(store_.Jobs().empty()) << c.name;
  }
}

TEST_F(JobWriterFiles, ARefusedJobKeepsItsFiles) {
  ASSERT_TRUE(Finish().added);
  // The same name and date from another folder is the same job to the queue.
  state_.JobFolder = dir_.File("elsewhere/Holiday");
  state_.JobDataFolder = state_.JobFolder + "/.kvnj/";
  state_.PreviewScriptPath = state_.JobDataFolder + "preview.avs";
  kv_test::WriteFile(Data("vts01_pgc00_a0_st0.sub"), "sub");
  state_.TitleSets[1].SubtitleFiles[0] = "vts01_pgc00_a0_st0.sub";
  wizard::FinishResult twice = Finish();
  EXPECT_FALSE(twice.added);
  EXPECT_EQ(twice.message, "Unable to add job to the list!");
  EXPECT_EQ(twice.icon, MessageIcon::Warning);
  EXPECT_TRUE(std::filesystem::exists(Data(".kvnj")));
  EXPECT_EQ(store_.Jobs().size(), 1u);

  const wizard::FinishResult corrupted = wizard::FinishJob(
      state_, program_, "later", [](const std::string&) { return queue::JobStore::AddResult{}; });
  EXPECT_FALSE(corrupted.added);
  EXPECT_FALSE(corrupted.folder_removed);
  EXPECT_EQ(corrupted.message, "Job is corrupted!");
  EXPECT_EQ(corrupted.icon, MessageIcon::Error);
  EXPECT_TRUE(std::filesystem::exists(Data("out03.rpjf")));
}

// The frame around the configuration page as far as Finish uses it: the
// state, the queue (seen with the cursor it was called under) and Release.
class FinishFrame : public wizard::WizardFrame {
 public:
  FinishFrame(wizard::WizardState& state, queue::JobStore& store, const std::string& program)
      : state_(state), store_(store) {
    host.program_folder = program;
  }
  wizard::WizardState& State() override { return state_; }
  wizard::WizardHost& Host() override { return host; }
  QWidget* Window() override { return nullptr; }
  void SetHeader(int, const QString&, const QString&) override {}
  void SetHeaderComment(const QString&) override {}
  void SelectNotebookPage(wizard::WizardPageIndex) override {}
  QPushButton* NextButton() override { return nullptr; }
  QPushButton* BackButton() override { return nullptr; }
  QPushButton* PreviewButton() override { return nullptr; }
  void NextButtonClick() override {}
  queue::JobStore::AddResult AddJobFromFolder(const std::string& folder) override {
    const QCursor* cursor = QApplication::overrideCursor();
    cursor_while_adding = cursor ? cursor->shape() : Qt::ArrowCursor;
    if (refuse) return {};
    return store_.AddJobFromFolder(folder);
  }
  void Release() override {
    ++releases;
    cursor_overridden_at_release = QApplication::overrideCursor() != nullptr;
  }

  kv_test::FakeWizardHost host;
  Qt::CursorShape cursor_while_adding = Qt::ArrowCursor;
  bool cursor_overridden_at_release = true;
  int releases = 0;
  bool refuse = false;  // the queue finds the job corrupted

 private:
  wizard::WizardState& state_;
  queue::JobStore& store_;
};

TEST_F(JobWriterFiles, FinishOnThePageShowsTheHourglassAndAlwaysReleasesTheWizard) {
  {
    kv_test::MessageBoxRecorder boxes;
    FinishFrame frame(state_, store_, program_);
    wizard::FinishWizard(frame);
    EXPECT_EQ(frame.cursor_while_adding, Qt::WaitCursor);
    EXPECT_FALSE(frame.cursor_overridden_at_release);
    EXPECT_EQ(frame.releases, 1);
    EXPECT_TRUE(boxes.Messages().empty());
    EXPECT_EQ(store_.Jobs().size(), 1u);
  }
  {
    // Refused by the queue: said so, the files kept.
    kv_test::MessageBoxRecorder boxes;
    boxes.Answer(platform::MessageAnswer::Ok);
    FinishFrame frame(state_, store_, program_);
    frame.refuse = true;
    wizard::FinishWizard(frame);
    ASSERT_EQ(boxes.Messages().size(), 1u);
    EXPECT_EQ(boxes.Messages()[0].text, "Job is corrupted!");
    EXPECT_EQ(boxes.Messages()[0].icon, MessageIcon::Error);
    EXPECT_EQ(frame.releases, 1);
    EXPECT_TRUE(std::filesystem::exists(Data(".kvnj")));
  }
  {
    kv_test::MessageBoxRecorder boxes;
    boxes.Answer(platform::MessageAnswer::Ok);
    FinishFrame frame(state_, store_, program_);
    std::filesystem::remove(program_ + "qmvideo.dll");
    std::filesystem::remove(Data("qmvideo.dll"));
    wizard::FinishWizard(frame);
    ASSERT_EQ(boxes.Messages().size(), 1u);
    EXPECT_EQ(boxes.Messages()[0].text, "Unable to save job!");
    EXPECT_EQ(boxes.Messages()[0].icon, MessageIcon::Error);
    EXPECT_EQ(frame.releases, 1);
    EXPECT_FALSE(frame.cursor_overridden_at_release);
    EXPECT_FALSE(std::filesystem::exists(state_.JobFolder));
  }
}

TEST_F(JobWriterFiles, PreviewOnThePageTakesThePluginsOfTheProgramFolder) {
  EXPECT_TRUE(wizard::WritePreviewScript(state_, program_));
  EXPECT_EQ(kv_test::ReadFile(Data("VSFilter.dll")), "VSFilter.dll");
  EXPECT_NE(kv_test::ReadFile(state_.PreviewScriptPath).find("BilinearResize"), std::string::npos);
  // Without the plug-ins the preview cannot be had.
  std::filesystem::remove(Data("VSFilter.dll"));
  EXPECT_FALSE(wizard::WritePreviewScript(state_, dir_.File("empty/")));
}

TEST(JobWriterDate, TheCreationTextIsOneLineWithSeconds) {
  const std::string date = wizard::JobDateText();
  EXPECT_FALSE(date.empty());
  EXPECT_LE(date.size(), 255u);
  EXPECT_EQ(date.find_first_of("\r\n"), std::string::npos);
  // Two texts a second apart differ.
  EXPECT_EQ(std::count(date.begin(), date.end(), ':'), 2) << date;
}

}  // namespace
