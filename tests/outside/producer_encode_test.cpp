// The encoder (helix/producer in the program folder) run as the queue runs
// it: the real TKVNEncoder starts it on an encoder job file written by the
// wizard's writer, in a job folder whose script reads a sample title
// through the installed frameserver. The results are read by ffprobe and
// decoded by FFmpeg.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/frameserver_install.h"
#include "platform/folders.h"
#include "platform/registry_store.h"
#include "queue/encoder_control.h"
#include "tests/outside/qmvideo_test_util.h"
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

bool ServeUntil(const std::function<bool()>& done, int seconds = 240) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

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
  void Encode(const std::function<void(Recorder&)>& on_progress = nullptr) {
    encoder_ = std::make_unique<queue::TKVNEncoder>();
    encoder_->SetEvents(&events_);
    ASSERT_TRUE(encoder_->StartVolume(kProducer, "out01.rpjf", 1, 1, queue::PriorityClass::Normal));
    ASSERT_TRUE(ServeUntil([&] {
      if (on_progress) on_progress(events_);
      return events_.Ended();
    }));
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
