// The encoder (helix/producer in the program folder) run as the queue runs
// it: the real TKVNEncoder starts it on an encoder job file written by the
// wizard's writer, in a job folder whose script reads a sample title
// through the installed frameserver. The results are read by ffprobe and
// decoded by FFmpeg.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/frameserver_install.h"
#include "outside/producer/rm_output.h"
#include "platform/folders.h"
#include "platform/registry_store.h"
#include "queue/encoder_control.h"
#include "tests/outside/plugin_test_util.h"
#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/serve_events.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"
#include "wizard/encoder_job_file.h"

namespace {

using kv_test::Quote;
using kv_test::RunCommand;

const std::string kProducer = std::string(KV_PROGRAM_FOLDER) + "/helix/producer";

bool Install() {
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  app::FrameserverInstallation installation(*store, platform::SystemFolder());
  return installation.InstallFrameserver(KV_PROGRAM_FOLDER);
}

// What the controller reported, in order.
class Recorder : public queue::EncoderEvents {
 public:
  void ShowVolumeProgress(double percent, bool) override { progress.push_back(percent); }
  void VolumeFinished(int volume, int volumes) override {
    finished = true;
    finished_volume = volume;
    finished_volumes = volumes;
  }
  void RunStopped(bool was_failed, const std::string& text) override {
    stopped = true;
    failed = was_failed;
    message = text;
  }
  bool Ended() const { return finished || stopped; }

  std::vector<double> progress;
  bool finished = false, stopped = false, failed = false;
  int finished_volume = 0, finished_volumes = 0;
  std::string message;
};

// ffprobe's key=value lines for `entries` of `stream` ("v:0", "a:0").
std::string Probe(const std::string& file, const std::string& stream, const std::string& entries) {
  return RunCommand("ffprobe -v error -select_streams " + stream +
                    " -show_entries stream=" + entries + " -of default=nw=1 " + Quote(file))
      .out;
}

// Frames FFmpeg decodes from `file`, and whether it said anything at all
// on the way (a decode error).
struct Decoded {
  int frames = -1;
  std::string complaints;
};
Decoded DecodeToEnd(const std::string& file) {
  Decoded d;
  const kv_test::CommandResult r =
      RunCommand("ffmpeg -nostdin -v error -i " + Quote(file) + " -f framecrc - 2>" +
                 Quote(file + ".err") + "; cat " + Quote(file + ".err"));
  std::istringstream in(r.out);
  std::string line;
  d.frames = 0;
  while (std::getline(in, line)) {
    if (line.rfind("0,", 0) == 0)
      ++d.frames;
    else if (!line.empty() && line[0] != '#' && line.rfind("1,", 0) != 0)
      d.complaints += line + "\n";
  }
  return d;
}

int64_t FileSize(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  std::fseek(f, 0, SEEK_END);
  const int64_t size = std::ftell(f);
  std::fclose(f);
  return size;
}

// A job folder ("Job/.kvnj") whose volume script serves the 12 s letterboxed
// PAL sample title, cropped and resized as the wizard's script does, with a
// tone as its sound.
class ProducerJob : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Install());
    root_ = std::make_unique<kv_test::TempDir>("kv-producer");
    data_ = root_->File("Job/.kvnj");
    kv_test::MakeFolders(data_);
    const std::string qmvi = kv_test::PrepareSampleTitle(data_, {"pal_letterbox", 1, 1});
    ASSERT_FALSE(qmvi.empty());
    title_ = qmvi.substr(qmvi.rfind('/') + 1);
    char here[4096];
    ASSERT_TRUE(getcwd(here, sizeof here));
    previous_folder_ = here;
    ASSERT_EQ(chdir(data_.c_str()), 0);
  }
  void TearDown() override {
    encoder_.reset();
    if (!previous_folder_.empty()) {
      EXPECT_EQ(chdir(previous_folder_.c_str()), 0);
    }
  }

  // The volume script: `middle` between the source and the joining.
  void WriteScript(const std::string& name, const std::string& middle = "",
                   const std::string& join = "AudioDub(video, audio)\r\n") {
    kv_test::WriteFile(data_ + "/" + name,
                       "LoadPlugin(\"qmvideo.dll\")\r\n\r\nvideo = qmVideoSource(\"" + title_ +
                           "\", idct=4, force_film=false)\r\nvideo = LanczosResize(video, 640, "
                           "368, 0, 72, 720, 416)\r\n" +
                           middle +
                           "\r\naudio = BlankClip(video, audio_rate=48000, channels=2, "
                           "tone=440)\r\n\r\n" +
                           join +
                           "\r\nWriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")\r\n");
  }

  wizard::EncoderJobFileValues Values(bool two_pass, int32_t bitrate) {
    wizard::EncoderJobFileValues v;
    v.Title = "Holiday";
    v.Author = "Someone";
    v.Copyright = "(C) 2024";
    v.Description = "A test title";
    v.ScriptName = "out01.avs";
    v.OutputPath = "../Job.rmvb";
    v.TwoPass = two_pass;
    v.rcEnableCurveCompression = two_pass;
    v.AverageBitrate = bitrate;
    v.MaximumBitrate = 2 * bitrate;
    v.encoderComplexity = 90;
    v.firstPassComplexity = 50;
    v.FrameRate = 25.0f;
    v.HasAudio = true;
    v.CodecName = "racp";  // 64 Kbps stereo
    v.CodecFlavour = 0;
    return v;
  }

  void WriteJob(const wizard::EncoderJobFileValues& v, const std::string& name = "out01.rpjf") {
    ASSERT_TRUE(wizard::WriteEncoderJobFile(data_ + "/" + name, v));
  }

  // Runs volume 1 of 1 through the real controller until it ends;
  // `on_progress` may act on the way.
  void Encode(const std::function<void(Recorder&)>& on_progress = nullptr,
              queue::PriorityClass priority = queue::PriorityClass::Normal) {
    encoder_ = std::make_unique<queue::TKVNEncoder>();
    encoder_->SetEvents(&events_);
    ASSERT_TRUE(encoder_->StartVolume(kProducer, "out01.rpjf", 1, 1, priority));
    kv_test::ServeEventsUntil([&] {
      if (on_progress) on_progress(events_);
      return events_.Ended();
    });
  }

  std::string Output(const std::string& name = "Job.rmvb") const {
    return root_->File("Job/" + name);
  }

  std::unique_ptr<kv_test::TempDir> root_;
  std::string data_, title_, previous_folder_;
  std::unique_ptr<queue::TKVNEncoder> encoder_;
  Recorder events_;
};

constexpr int kTitleFrames = 300;  // 12 s at 25 fps

TEST_F(ProducerJob, TwoPassVolumeIsRealMediaOfTheBudgetedSize) {
  WriteScript("out01.avs");
  const int32_t bitrate = 600 * 1024;
  WriteJob(Values(true, bitrate));
  Encode();
  ASSERT_TRUE(events_.finished) << events_.message;
  EXPECT_EQ(events_.finished_volume, 1);
  // Progress went through the analysis share and on to 100 %.
  ASSERT_FALSE(events_.progress.empty());
  EXPECT_EQ(events_.progress.back(), 100.0);
  EXPECT_TRUE(std::any_of(events_.progress.begin(), events_.progress.end(),
                          [](double p) { return p > 10 && p < 20; }));

  const std::string file = Output();
  EXPECT_EQ(Probe(file, "v:0", "codec_name,width,height,r_frame_rate"),
            "codec_name=rv20\nwidth=640\nheight=368\nr_frame_rate=25/1\n");
  EXPECT_EQ(Probe(file, "a:0", "codec_name,codec_tag_string,channels"),
            "codec_name=aac\ncodec_tag_string=raac\nchannels=2\n");
  const std::string tags = RunCommand(
                               "ffprobe -v error -show_entries format_tags -of "
                               "default=nw=1 " +
                               Quote(file))
                               .out;
  EXPECT_NE(tags.find("title=Holiday"), std::string::npos) << tags;
  EXPECT_NE(tags.find("author=Someone"), std::string::npos) << tags;
  EXPECT_NE(tags.find("comment=A test title"), std::string::npos) << tags;
  const Decoded decoded = DecodeToEnd(file);
  EXPECT_EQ(decoded.frames, kTitleFrames);
  EXPECT_EQ(decoded.complaints, "");

  const double budget = bitrate * (kTitleFrames / 25.0) / 8;
  const int64_t size = FileSize(file);
  std::printf("two-pass size %lld of %.0f (%.2f %%)\n", static_cast<long long>(size), budget,
              100.0 * size / budget);
  EXPECT_LE(size, budget);
  EXPECT_GE(size, 0.98 * budget);
}

}  // namespace

namespace {

// The nice value of every thread of process `pid`.
std::vector<int> ThreadNiceValues(const std::string& pid) {
  std::vector<int> values;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + pid + "/task", error)) {
    std::ifstream stat(task.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    // After the name: the state, then 15 fields up to the nice value.
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string field;
    for (int k = 0; k < 17 && fields >> field; ++k) {
    }
    values.push_back(std::stoi(field));
  }
  return values;
}

// The queue's priority, lowered while the analysis pass runs, reaches
// every thread of the encoder from then on: the workers of both passes,
// their frame sources and the sound's coder, those started later too.
TEST_F(ProducerJob, EveryWorkerRunsAtTheQueuesPriority) {
  WriteScript("out01.avs");
  WriteJob(Values(true, 600 * 1024));
  bool lowered = false;
  size_t most_threads = 0;
  std::vector<int> other;
  Encode([&](Recorder& events) {
    if (events.progress.empty()) return;
    if (!lowered && events.progress.back() > 3) {
      lowered = true;
      encoder_->SetChildPriority(queue::PriorityClass::Idle);
    }
    std::ifstream pid_file("pid");
    std::string pid;
    if (!lowered || events.progress.back() < 20 || !(pid_file >> pid)) return;
    const std::vector<int> values = ThreadNiceValues(pid);
    most_threads = std::max(most_threads, values.size());
    for (int v : values)
      if (v != 19) other.push_back(v);
  });
  ASSERT_TRUE(events_.finished) << events_.message;
  EXPECT_GE(most_threads, 4u);
  EXPECT_TRUE(other.empty()) << other.size() << " threads at another nice value, first "
                             << other.front();
}

TEST_F(ProducerJob, AbortLeavesAFileThatPlays) {
  WriteScript("out01.avs");
  WriteJob(Values(false, 600 * 1024));
  bool asked = false;
  Encode([&](Recorder& events) {
    if (!asked && !events.progress.empty() && events.progress.back() > 30) {
      asked = true;
      encoder_->RequestStop();
    }
  });
  ASSERT_TRUE(asked);
  ASSERT_TRUE(events_.stopped);
  EXPECT_FALSE(events_.failed);
  const Decoded decoded = DecodeToEnd(Output());
  EXPECT_GT(decoded.frames, 0);
  EXPECT_LT(decoded.frames, kTitleFrames);
  EXPECT_EQ(decoded.complaints, "");
}

TEST_F(ProducerJob, ScriptErrorFailsTheVolume) {
  WriteScript("out01.avs", "video = LanczosResize(video, 640)\r\n");
  WriteJob(Values(true, 600 * 1024));
  Encode();
  ASSERT_TRUE(events_.stopped);
  EXPECT_TRUE(events_.failed);
  EXPECT_EQ(events_.message, "Encoding failed!");
}

// An average bit rate split at 1 MB, as the wizard writes it: the encoder
// starts a new file whenever the next frames would pass the size, and the
// files together meet the budget.
TEST_F(ProducerJob, RollOverSplitsAtTheSizeGiven) {
  WriteScript("out01.avs");
  const int32_t bitrate = 1500 * 1024;
  wizard::EncoderJobFileValues v = Values(true, bitrate);
  v.RollSizeMB = 1;
  WriteJob(v);
  Encode();
  ASSERT_TRUE(events_.finished) << events_.message;
  int frames = 0, parts = 0;
  int64_t total = 0;
  for (int part = 1; part < 50; ++part) {
    const std::string file =
        Output(part == 1 ? "Job.rmvb" : "Job_" + std::to_string(part) + ".rmvb");
    if (FileSize(file) < 0) break;
    ++parts;
    total += FileSize(file);
    EXPECT_LE(FileSize(file), 1048576) << file;
    const Decoded decoded = DecodeToEnd(file);
    EXPECT_EQ(decoded.complaints, "") << file;
    frames += decoded.frames;
  }
  EXPECT_GE(parts, 2);
  EXPECT_EQ(frames, kTitleFrames);
  const double budget = bitrate * (kTitleFrames / 25.0) / 8;
  std::printf("rolled two-pass size %lld of %.0f (%.2f %%) in %d files\n",
              static_cast<long long>(total), budget, 100.0 * total / budget, parts);
  EXPECT_LE(total, budget);
  EXPECT_GE(total, 0.98 * budget);
}

// The encoder run by hand in a folder: what it refuses, and why.
TEST(ProducerCommandLine, BrokenJobsEndWithAnError) {
  ASSERT_TRUE(Install());
  kv_test::TempDir dir("kv-producer-cl");
  auto run = [&](const std::string& job_text) {
    kv_test::WriteFile(dir.File("job.rpjf"), job_text);
    return RunCommand("cd " + Quote(dir.Path()) + " && " + Quote(kProducer) +
                      " -j \"job.rpjf\" -daw -lc \"e,i\" -pid pid; echo \"exit=$?\"")
        .out;
  };
  wizard::EncoderJobFileValues v;
  v.ScriptName = "clip.avs";
  v.OutputPath = "clip.rmvb";
  v.TwoPass = true;
  v.AverageBitrate = 300000;
  v.MaximumBitrate = 600000;
  v.HasAudio = false;
  kv_test::WriteFile(dir.File("clip.avs"),
                     "BlankClip(length=50, width=320, height=240, "
                     "pattern=true, channels=6, tone=440)\r\n");
  const std::string kElsewhere = "/usr/kv-producer-elsewhere.rmvb";
  auto with_output = [&](const std::string& output) {
    auto w = v;
    w.OutputPath = output;
    return wizard::FormatEncoderJobFile(w);
  };
  const struct {
    std::string job;
    const char* says;
  } cases[] = {
      {"<job/>", "Error: job.rpjf: the file is no encoder job file"},
      {wizard::FormatEncoderJobFile([&] {
         auto w = v;
         w.AverageBitrate = 5;
         return w;
       }()),
       "Error: job.rpjf: avgBitrate 5 is outside 1000..100000000"},
      {wizard::FormatEncoderJobFile([&] {
         auto w = v;
         w.ScriptName = "missing.avs";
         return w;
       }()),
       "Error: cannot open \"missing.avs\""},
      // A real clip at a rate that cannot hold it even at the coarsest
      // quantiser: refused after the analysis, and no file is written.
      {wizard::FormatEncoderJobFile([&] {
         auto w = v;
         w.AverageBitrate = 1000;
         w.MaximumBitrate = 1000;
         return w;
       }()),
       "Error: avgBitrate 1000 bit/s is too low for this clip"},
      // Outputs that would overwrite the job's own files or write
      // elsewhere than the job's folder.
      {with_output("./clip.avs"), "Error: the output \"./clip.avs\" would overwrite"},
      {with_output("job.rpjf"), "Error: the output \"job.rpjf\" would overwrite"},
      {with_output("../elsewhere/x.rmvb"), "\" lies outside the job's folder"},
      {with_output(kElsewhere), "\" lies outside the job's folder"},
  };
  for (const auto& c : cases) {
    const std::string out = run(c.job);
    EXPECT_EQ(out.rfind("Helix DNA(TM) Producer 10", 0), 0u) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_NE(out.find("exit=1"), std::string::npos) << out;
    EXPECT_EQ(out.find("Done "), std::string::npos) << out;
  }
  EXPECT_EQ(FileSize(dir.File("clip.rmvb")), -1);
  EXPECT_EQ(kv_test::ReadFile(dir.File("clip.avs")).rfind("BlankClip(", 0), 0u);
  EXPECT_EQ(FileSize(kElsewhere), -1);
  std::remove(kElsewhere.c_str());
  // The process id is in its file; a command line without a job file is
  // refused before anything else.
  const std::string pid = kv_test::ReadFile(dir.File("pid"));
  EXPECT_FALSE(pid.empty());
  EXPECT_EQ(pid.find_first_not_of("0123456789"), std::string::npos) << pid;
  EXPECT_NE(RunCommand(Quote(kProducer) + " -daw; echo \"exit=$?\"").out.find("exit=2"),
            std::string::npos);
  // A good job in the same folder encodes, at a bit rate or at a quality;
  // the multichannel row gives six channels of AAC.
  v.HasAudio = true;
  v.CodecName = "cook";
  v.CodecFlavour = 30;
  std::string out = run(wizard::FormatEncoderJobFile(v));
  EXPECT_NE(out.find("Done encoding \"clip.rmvb\""), std::string::npos) << out;
  EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
  EXPECT_EQ(Probe(dir.File("clip.rmvb"), "a:0", "codec_name,channels"),
            "codec_name=aac\nchannels=6\n");
  v.TwoPass = false;
  v.Quality = 85;
  v.AverageBitrate = v.MaximumBitrate = 100000000;
  out = run(wizard::FormatEncoderJobFile(v));
  EXPECT_NE(out.find("Encoding@"), std::string::npos) << out;
  EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
  EXPECT_GT(FileSize(dir.File("clip.rmvb")), 0);

  // At 29.97 frames per second, with texts that fill kilobytes of the
  // header: the exact rate, the texts, the keywords and the rating are in
  // the file, and every frame decodes.
  kv_test::WriteFile(dir.File("clip.avs"),
                     "BlankClip(length=30, width=320, height=240, pattern=true, fps=30000, "
                     "fps_denominator=1001)\r\n");
  v.HasAudio = false;
  v.FrameRate = 29.97f;
  v.Description = std::string(5000, 'd');
  v.Title = std::string(3000, 't');
  v.Keywords = "sea, sand";
  v.Rating = 4;
  out = run(wizard::FormatEncoderJobFile(v));
  EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
  std::string error;
  const auto facts = producer::ReadRealMediaHeader(dir.File("clip.rmvb"), &error);
  ASSERT_TRUE(facts) << error;
  EXPECT_NEAR(facts->frame_rate, 30000.0 / 1001, 1e-4);
  EXPECT_EQ(facts->content.at("comment"), v.Description);
  EXPECT_EQ(facts->properties.at("Keywords"), "sea, sand");
  EXPECT_EQ(facts->properties.at("Content Rating"), "4");
  EXPECT_EQ(DecodeToEnd(dir.File("clip.rmvb")).frames, 30);
  EXPECT_NE(RunCommand("ffprobe -v error -show_entries format_tags -of default=nw=1 " +
                       Quote(dir.File("clip.rmvb")))
                .out.find("Keywords=sea, sand"),
            std::string::npos);
}

}  // namespace

namespace {

// Clip times of the frames FFmpeg decodes from `file` whose mean luma
// passes 128 (the white flashes), and of the first sample of each burst of
// sound after silence.
std::vector<double> FlashTimes(const std::string& file) {
  std::vector<double> times;
  const std::string out =
      RunCommand("ffprobe -v error -f lavfi -i " + Quote("movie=" + file + ",signalstats") +
                 " -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0")
          .out;
  std::istringstream in(out);
  std::string line;
  bool bright = false;
  while (std::getline(in, line)) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    const double time = std::stod(line.substr(0, comma));
    const bool now_bright = std::stod(line.substr(comma + 1)) > 128;
    if (now_bright && !bright) times.push_back(time);
    bright = now_bright;
  }
  return times;
}

std::vector<double> ToneOnsets(const std::string& file) {
  const std::string pcm = file + ".pcm";
  RunCommand("ffmpeg -nostdin -v error -y -i " + Quote(file) +
             " -map 0:a -ac 1 -ar 48000 -f s16le " + Quote(pcm));
  const std::string bytes = kv_test::ReadFile(pcm);
  std::vector<double> onsets;
  int64_t quiet = 48000;  // samples since the last loud one
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const int16_t s = static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                           static_cast<uint8_t>(bytes[i + 1]) << 8);
    if (std::abs(s) > 2000) {
      if (quiet > 4800) onsets.push_back(static_cast<double>(i / 2) / 48000);
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  return onsets;
}

// The sync title as a job encodes it: its picture, and a sound stream read
// by its plug-in with the stream's delay, as the job writer's script has
// them. After encoding and decoding, every tone starts within one frame
// period of its flash.
TEST_F(ProducerJob, SoundStaysWithThePicture) {
  kv_test::PluginTitle title;
  ASSERT_TRUE(kv_test::PreparePluginTitle(data_, "pal_sync", 1, 1, &title));
  const struct {
    int stream;
    const char* plugin;
    const char* source;
  } streams[] = {{3, "qmaudio_mpa.dll", "qmAudioMPASource"},
                 {0, "qmaudio_ac3.dll", "qmAudioAC3Source"}};  // 5.1, tone in the centre
  for (const auto& s : streams) {
    char delay[32];
    std::snprintf(
        delay, sizeof delay, "%f",
        static_cast<double>(static_cast<float>(title.status.audio[s.stream].delayMs) * 0.001f));
    kv_test::WriteFile(
        data_ + "/out01.avs",
        std::string("LoadPlugin(\"qmvideo.dll\")\r\nLoadPlugin(\"") + s.plugin +
            "\")\r\n\r\nvideo = qmVideoSource(\"" + title.key +
            ".qmvi\", idct=4, force_film=false)\r\nvideo = LanczosResize(video, 352, "
            "288)\r\n\r\naudio = " +
            s.source + "(\"" + title.key + "_at" + std::to_string(s.stream) +
            ".vfm\", channels=2)\r\n\r\n"
            "AudioDub(video, DelayAudio(audio, " +
            delay +
            "))\r\n"
            "\r\nWriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")\r\n");
    wizard::EncoderJobFileValues v = Values(false, 400 * 1024);
    v.encoderComplexity = 50;
    WriteJob(v);
    events_ = Recorder();
    Encode();
    ASSERT_TRUE(events_.finished) << s.source << ": " << events_.message;
    const std::vector<double> flashes = FlashTimes(Output());
    const std::vector<double> onsets = ToneOnsets(Output());
    ASSERT_EQ(flashes.size(), 5u) << s.source;  // 1, 3, 5, 7 and 9 s
    ASSERT_EQ(onsets.size(), flashes.size()) << s.source;
    for (size_t i = 0; i < flashes.size(); ++i) {
      std::printf("%s: flash at %.3f s, tone at %.4f s\n", s.source, flashes[i], onsets[i]);
      EXPECT_NEAR(flashes[i], 1.0 + 2.0 * static_cast<double>(i), 0.001);
      EXPECT_NEAR(onsets[i], flashes[i], 0.04) << s.source;
    }
  }
}

}  // namespace

namespace {

// The three-minute title in two fixed-size volumes of 5 MB, with the bit
// rate the settings compute for them: each volume lands just under its
// size, though its scenes are of very unequal difficulty.
TEST_F(ProducerJob, FixedSizeVolumesOfALongTitleStayUnderTheirSize) {
  const std::string qmvi = kv_test::PrepareSampleTitle(data_, {"pal_long", 1, 1});
  ASSERT_FALSE(qmvi.empty());
  const int frames = std::stoi(kv_test::SampleFact("pal_long", "frames"));
  const int volumes = 2, size_mb = 5, per_volume = frames / volumes;
  const double duration = frames / 25.0;
  const auto bitrate = static_cast<int32_t>(volumes * size_mb * 1048576.0 * 8 / duration * 0.9905);
  for (int k = 1; k <= volumes; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "out%02d", k);
    const std::string trim = "Trim(" + std::to_string((k - 1) * per_volume) + ", " +
                             std::to_string(k < volumes ? k * per_volume - 1 : 0) + ")\r\n";
    kv_test::WriteFile(data_ + "/" + name + ".avs",
                       "LoadPlugin(\"qmvideo.dll\")\r\n\r\nvideo = qmVideoSource(\"" +
                           qmvi.substr(qmvi.rfind('/') + 1) +
                           "\", idct=4, force_film=false)\r\nvideo = LanczosResize(video, 352, "
                           "288)\r\naudio = BlankClip(video, audio_rate=48000, channels=2, "
                           "tone=440)\r\nAudioDub(video, audio)\r\n" +
                           trim +
                           "\r\nWriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")\r\n");
    wizard::EncoderJobFileValues v = Values(true, bitrate);
    v.ScriptName = std::string(name) + ".avs";
    v.OutputPath = "../Job (" + std::to_string(k) + "of2).rmvb";
    v.encoderComplexity = 60;
    WriteJob(v, std::string(name) + ".rpjf");
  }
  for (int k = 1; k <= volumes; ++k) {
    events_ = Recorder();
    encoder_ = std::make_unique<queue::TKVNEncoder>();
    encoder_->SetEvents(&events_);
    char job[32];
    std::snprintf(job, sizeof job, "out%02d.rpjf", k);
    ASSERT_TRUE(encoder_->StartVolume(kProducer, job, k, volumes, queue::PriorityClass::Normal));
    kv_test::ServeEventsUntil([&] { return events_.Ended(); });
    ASSERT_TRUE(events_.finished)
        << events_.message
        << RunCommand(Quote(kProducer) + " -j " + job + " 2>&1 | tr '\\r' '\\n' | tail -3").out;
    const std::string file = Output("Job (" + std::to_string(k) + "of2).rmvb");
    const int64_t size = FileSize(file);
    const double budget = bitrate * (per_volume / 25.0) / 8;
    std::printf("volume %d: %lld bytes, %.2f %% of its budget, %.2f %% of %d MB\n", k,
                static_cast<long long>(size), 100.0 * size / budget,
                100.0 * size / (size_mb * 1048576.0), size_mb);
    EXPECT_LE(size, size_mb * 1048576);
    EXPECT_LE(size, budget);
    EXPECT_GE(size, 0.99 * budget);
    const Decoded decoded = DecodeToEnd(file);
    EXPECT_EQ(decoded.frames, per_volume);
    EXPECT_EQ(decoded.complaints, "");
  }
}

// The sound is coded beside the passes, and at the lowest sound row the
// codec takes twice its rate where there is sound to code: a title
// that is silent for its first quarter, then sounds, makes the sound come
// out far larger than the rate planned for it while the pictures, made
// small, are coded before it ends. The fixed-size volume still lands just
// under its size, every frame decoded.
TEST_F(ProducerJob, AFixedSizeVolumeKeepsItsSizeWhenItsSoundOutgrowsItsRate) {
  const std::string qmvi = kv_test::PrepareSampleTitle(data_, {"pal_long", 1, 1});
  ASSERT_FALSE(qmvi.empty());
  const int frames = std::stoi(kv_test::SampleFact("pal_long", "frames"));
  const double seconds = frames / 25.0, silent = seconds / 4;
  kv_test::WriteFile(data_ + "/out01.avs",
                     "LoadPlugin(\"qmvideo.dll\")\r\nvideo = qmVideoSource(\"" +
                         qmvi.substr(qmvi.rfind('/') + 1) +
                         "\", idct=4, force_film=false)\r\nvideo = LanczosResize(video, 176, "
                         "144)\r\naudio = BlankClip(video, audio_rate=48000, channels=2, "
                         "tone=440)\r\nAudioDub(video, DelayAudio(audio, " +
                         std::to_string(silent) + "))\r\n" +
                         "\r\nWriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")\r\n");
  const int32_t bitrate = 128 * 1024;
  wizard::EncoderJobFileValues v = Values(true, bitrate);
  v.CodecName = "cook";  // 6 Kbps mono
  v.CodecFlavour = 8;
  v.encoderComplexity = 50;
  WriteJob(v);
  Encode();
  ASSERT_TRUE(events_.finished) << events_.message
                                << RunCommand(Quote(kProducer) +
                                              " -j out01.rpjf 2>&1 | tr '\\r' "
                                              "'\\n' | tail -3")
                                       .out;
  const std::string sound = RunCommand(
                                "ffprobe -v error -select_streams a:0 -show_entries "
                                "packet=size -of csv=p=0 " +
                                Quote(Output()))
                                .out;
  double sound_bytes = 0;
  std::istringstream in(sound);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) sound_bytes += std::stod(line);
  const double sounding_rate = sound_bytes * 8 / (seconds - silent);
  const int64_t size = FileSize(Output());
  const double budget = bitrate * seconds / 8;
  std::printf("sound %.0f bit/s where it sounds (row 6144); %lld bytes, %.2f %% of the budget\n",
              sounding_rate, static_cast<long long>(size), 100.0 * size / budget);
  EXPECT_GT(sounding_rate, 1.5 * 6 * 1024);  // the sound did outgrow its rate
  EXPECT_LE(size, budget);
  EXPECT_GE(size, 0.99 * budget);
  const Decoded decoded = DecodeToEnd(Output());
  EXPECT_EQ(decoded.frames, frames);
  EXPECT_EQ(decoded.complaints, "");
}

}  // namespace

namespace {

// The script's last line, by which the encoder control sees that the
// frameserver served it.
const std::string kServedMark =
    "\r\nWriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")\r\n";

// Runs the encoder by hand in the job's data folder on "out01.rpjf", after
// `launch` (variables of its environment, a program that starts it); its
// console lines with the carriage returns made line feeds, and its exit.
std::string RunProducer(const std::string& launch = "") {
  return RunCommand(launch + Quote(kProducer) +
                    " -j out01.rpjf -daw >producer.log 2>&1; echo \"exit=$?\"; tr '\\r' '\\n' "
                    "<producer.log")
      .out;
}

// The grainy title's script: its picture as the title has it, and its own
// sound (a tone at every flash) through the AC-3 plug-in.
void WriteGrainScript(const std::string& folder, const kv_test::PluginTitle& title) {
  char delay[32];
  std::snprintf(delay, sizeof delay, "%f",
                static_cast<double>(static_cast<float>(title.status.audio[0].delayMs) * 0.001f));
  kv_test::WriteFile(
      folder + "/out01.avs",
      "LoadPlugin(\"qmvideo.dll\")\r\nLoadPlugin(\"qmaudio_ac3.dll\")\r\n\r\nvideo = "
      "qmVideoSource(\"" +
          title.key +
          ".qmvi\", idct=4, force_film=false)\r\naudio = "
          "qmAudioAC3Source(\"" +
          title.key + "_at0.vfm\", channels=2)\r\nAudioDub(video, DelayAudio(audio, " + delay +
          "))\r\n" + kServedMark);
}

// Film grain makes frames larger than one packet of the file holds at the
// higher qualities: every quality the settings offer encodes, and FFmpeg
// decodes every frame.
TEST_F(ProducerJob, GrainyTitleEncodesAtEveryQuality) {
  kv_test::PluginTitle title;
  ASSERT_TRUE(kv_test::PreparePluginTitle(data_, "pal_grain", 1, 1, &title));
  WriteGrainScript(data_, title);
  const int frames = std::stoi(kv_test::SampleFact("pal_grain", "frames"));
  for (const int quality : {60, 85, 100}) {
    wizard::EncoderJobFileValues v = Values(false, 100000000);
    v.MaximumBitrate = 100000000;
    v.Quality = quality;
    v.encoderComplexity = 50;
    WriteJob(v);
    events_ = Recorder();
    Encode();
    ASSERT_TRUE(events_.finished) << quality << ": " << events_.message << "\n" << RunProducer();
    const Decoded decoded = DecodeToEnd(Output());
    EXPECT_EQ(decoded.frames, frames) << quality;
    EXPECT_EQ(decoded.complaints, "") << quality;
    std::printf("quality %d: %lld bytes\n", quality, static_cast<long long>(FileSize(Output())));
  }
}

// A constant-quality job split by a small roll-over size at the lowest
// audio rows: in every file each tone starts within one audio frame of its
// flash (a tone already sounding when a file starts belongs to a flash of
// the file before).
TEST_F(ProducerJob, SplitQualityJobKeepsEveryToneWithItsFlash) {
  kv_test::PluginTitle title;
  ASSERT_TRUE(kv_test::PreparePluginTitle(data_, "pal_grain", 1, 1, &title));
  WriteGrainScript(data_, title);
  const struct {
    const char* codec;
    int flavour;
    double audio_frame_seconds;
  } rows[] = {{"racp", 0, 1024 / 32000.0},    // 64 Kbps stereo at 32 kHz
              {"cook", 1, 1024 / 24000.0},    // 11 Kbps mono at 24 kHz
              {"cook", 26, 1024 / 16000.0}};  // 12 Kbps stereo at 16 kHz
  for (const auto& row : rows) {
    wizard::EncoderJobFileValues v = Values(false, 100000000);
    v.MaximumBitrate = 100000000;
    v.Quality = 40;
    v.encoderComplexity = 30;
    v.CodecName = row.codec;
    v.CodecFlavour = row.flavour;
    v.RollSizeMB = 1;
    WriteJob(v);
    events_ = Recorder();
    Encode();
    ASSERT_TRUE(events_.finished) << row.codec << row.flavour << ": " << events_.message
                                  << RunProducer();
    size_t flashes_seen = 0;
    int parts = 0;
    for (int part = 1;
         FileSize(Output(part == 1 ? "Job.rmvb" : "Job_" + std::to_string(part) + ".rmvb")) > 0;
         ++part) {
      ++parts;
      const std::string file =
          Output(part == 1 ? "Job.rmvb" : "Job_" + std::to_string(part) + ".rmvb");
      const std::vector<double> flashes = FlashTimes(file);
      std::vector<double> onsets = ToneOnsets(file);
      if (!onsets.empty() && onsets.front() < 0.12 && (flashes.empty() || flashes.front() > 0.12))
        onsets.erase(onsets.begin());
      ASSERT_EQ(onsets.size(), flashes.size()) << file;
      for (size_t i = 0; i < flashes.size(); ++i) {
        std::printf("%s%d part %d: flash at %.3f s, tone at %.4f s\n", row.codec, row.flavour, part,
                    flashes[i], onsets[i]);
        EXPECT_NEAR(onsets[i], flashes[i], row.audio_frame_seconds + 0.002) << file;
      }
      flashes_seen += flashes.size();
    }
    EXPECT_GE(parts, 2);
    EXPECT_EQ(flashes_seen, 4u);
  }
}

// A bit rate just above the settings' least (the audio row and 10 Kbps) on
// a picture that costs far more: the encoder never says "Done" over the
// budget, but ends with an error that names the bit rate the clip needs and
// leaves no file. A little above what the analysis says it needs (grain at
// the coarsest quantiser costs more than it says: frames are left out
// there), both passes' modes encode within the budget; in one pass, at
// every rate of a table around there, where a higher budget never fails
// where a lower one succeeds, nor leaves out more frames.
TEST_F(ProducerJob, ABudgetThePictureCannotKeepIsNeverBrokenSilently) {
  kv_test::PluginTitle title;
  ASSERT_TRUE(kv_test::PreparePluginTitle(data_, "pal_grain", 1, 1, &title));
  WriteGrainScript(data_, title);
  const double seconds = std::stoi(kv_test::SampleFact("pal_grain", "seconds"));
  const std::string says = "bit/s is too low for this clip: it needs at least ";
  auto encode = [&](bool two_pass, int64_t bitrate) {
    wizard::EncoderJobFileValues v = Values(two_pass, static_cast<int32_t>(bitrate));
    v.encoderComplexity = 30;
    WriteJob(v);
    std::remove(Output().c_str());
    return RunProducer();
  };
  const int64_t least = (64 + 10 + 2) * 1024;
  int64_t needed = 0;
  for (const bool two_pass : {true, false}) {
    const std::string out = encode(two_pass, least);
    const size_t needs = out.find(says);
    ASSERT_NE(needs, std::string::npos) << out;
    EXPECT_NE(out.find("exit=1"), std::string::npos) << out;
    EXPECT_EQ(out.find("Done encoding"), std::string::npos) << out;
    EXPECT_EQ(FileSize(Output()), -1) << out;
    std::printf("%s at %lld bit/s: %s", two_pass ? "two passes" : "one pass",
                static_cast<long long>(least), out.substr(needs).c_str());
    if (two_pass) needed = std::stoll(out.substr(needs + says.size()));
  }
  const std::string left_out = " frames were left out";
  int64_t most_left_out = std::numeric_limits<int64_t>::max();
  const std::pair<bool, int> runs[] = {{true, 1100},  {false, 1080}, {false, 1100},
                                       {false, 1115}, {false, 1130}, {false, 1150}};
  for (const auto& [two_pass, per_mille] : runs) {
    const int64_t bitrate = needed * per_mille / 1000;
    const std::string out = encode(two_pass, bitrate);
    EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
    EXPECT_NE(out.find("Done encoding"), std::string::npos) << out;
    const int64_t size = FileSize(Output());
    const size_t warning = out.find(left_out);
    const int64_t frames_left_out =
        warning == std::string::npos
            ? 0
            : std::stoll(out.substr(out.rfind("Warning: ", warning) + 9));  // "N of M frames"
    std::printf("%s at %lld bit/s: %lld bytes, %.2f %% of the budget, %lld frames left out\n",
                two_pass ? "two passes" : "one pass", static_cast<long long>(bitrate),
                static_cast<long long>(size), 100.0 * size / (bitrate * seconds / 8),
                static_cast<long long>(frames_left_out));
    EXPECT_LE(size, bitrate * seconds / 8) << out;
    if (two_pass) continue;
    EXPECT_LE(frames_left_out, most_left_out) << out;
    most_left_out = frames_left_out;
  }
}

// A job of a dozen segments (a key frame every second) coded three at a
// time, once with every thread on one processor and once free to use both:
// the workers and the sound's thread keep other paces, and each segment
// starts while others still run, yet the volume's bytes are the same, within
// its budget and near it, in one pass and in two.
TEST_F(ProducerJob, AVolumeIsTheSameHoweverFastItsThreadsRun) {
  WriteScript("out01.avs");
  const int32_t bitrate = 500 * 1024;
  for (const bool two_pass : {false, true}) {
    SCOPED_TRACE(two_pass ? "two passes" : "one pass");
    wizard::EncoderJobFileValues v = Values(two_pass, bitrate);
    v.encoderComplexity = 30;
    std::string job = wizard::FormatEncoderJobFile(v);
    const std::string interval = "<maxKeyFrameInterval type=\"double\">10<";
    ASSERT_NE(job.find(interval), std::string::npos);
    for (size_t at; (at = job.find(interval)) != std::string::npos;)
      job.replace(at, interval.size(), "<maxKeyFrameInterval type=\"double\">1<");
    kv_test::WriteFile(data_ + "/out01.rpjf", job);
    std::vector<std::string> volumes;
    for (const std::string launch : {"taskset -c 0 ", ""}) {
      std::remove(Output().c_str());
      const std::string out = RunProducer("KESTREVANE_ENCODER_WORKERS=3 " + launch);
      ASSERT_NE(out.find("exit=0"), std::string::npos) << launch << out;
      volumes.push_back(kv_test::ReadFile(Output()));
      const double budget = bitrate * (kTitleFrames / 25.0) / 8;
      std::printf("%s, %s: %zu bytes, %.2f %% of the budget\n",
                  two_pass ? "two passes" : "one pass", launch.empty() ? "free" : launch.c_str(),
                  volumes.back().size(),
                  100.0 * static_cast<double>(volumes.back().size()) / budget);
      EXPECT_LE(static_cast<double>(volumes.back().size()), budget);
      EXPECT_GE(static_cast<double>(volumes.back().size()), 0.98 * budget);
    }
    EXPECT_TRUE(volumes[0] == volumes[1]) << volumes[0].size() << " and " << volumes[1].size();
    const Decoded decoded = DecodeToEnd(Output());
    EXPECT_EQ(decoded.frames, kTitleFrames);
    EXPECT_EQ(decoded.complaints, "");
  }
}

// maxBitrate is the peak over a few seconds: a clip whose noisy scene costs
// far more than its still one keeps every 3 s of the file, sound included,
// within maxBitrate.
TEST_F(ProducerJob, PeakBitRateStaysWithinMaxBitrate) {
  const std::string qmvi = kv_test::PrepareSampleTitle(data_, {"pal_long", 1, 1});
  ASSERT_FALSE(qmvi.empty());
  kv_test::WriteFile(data_ + "/out01.avs",
                     "LoadPlugin(\"qmvideo.dll\")\r\nvideo = qmVideoSource(\"" +
                         qmvi.substr(qmvi.rfind('/') + 1) +
                         "\", idct=4, force_film=false)\r\naudio = BlankClip(video, "
                         "audio_rate=48000, channels=2, tone=440)\r\nAudioDub(video, audio)\r\n"
                         "Trim(1100, 2099)\r\n" +
                         kServedMark);
  const int32_t bitrate = 500 * 1024, peak = bitrate * 13 / 10;
  wizard::EncoderJobFileValues v = Values(true, bitrate);
  v.MaximumBitrate = peak;
  v.encoderComplexity = 50;
  WriteJob(v);
  Encode();
  ASSERT_TRUE(events_.finished) << events_.message;
  const std::string packets = RunCommand(
                                  "ffprobe -v error -show_entries packet=pts_time,size -of "
                                  "csv=p=0 " +
                                  Quote(Output()))
                                  .out;
  std::vector<std::pair<double, double>> sizes;  // time, bytes
  std::istringstream in(packets);
  std::string line;
  while (std::getline(in, line)) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    sizes.emplace_back(std::stod(line.substr(0, comma)), std::stod(line.substr(comma + 1)));
  }
  std::sort(sizes.begin(), sizes.end());
  ASSERT_GT(sizes.size(), 1000u);
  double most = 0;
  for (size_t first = 0, last = 0; first < sizes.size(); ++first) {
    double bytes = 0;
    for (last = first; last < sizes.size() && sizes[last].first < sizes[first].first + 3; ++last)
      bytes += sizes[last].second;
    most = std::max(most, bytes * 8 / 3);
  }
  std::printf("highest 3 s bit rate %.0f of maxBitrate %d\n", most, peak);
  EXPECT_LE(most, peak);
}

}  // namespace
