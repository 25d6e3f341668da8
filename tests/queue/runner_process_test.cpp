// The runner in the real queue window with the real encoder controller: the
// scripted test encoder runs as a child process for every volume.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

#include "app/shell_state.h"
#include "platform/file_system.h"
#include "queue/encoder_controller.h"
#include "queue/job_file.h"
#include "tests/queue/queue_window_fixture.h"
#include "tests/support/serve_events.h"

#ifndef KV_TEST_ENCODER
#error "KV_TEST_ENCODER must name the scripted test encoder"
#endif

namespace {

using kv_test::ServeEventsUntil;

using platform::MessageAnswer;
using platform::SystemSound;
using queue::JobState;

const std::string kBanner = "line Helix DNA(TM) Producer 10.0 Build number: 10.0.0.0 (test)\n";
const std::string kStarted = "pid\n" + kBanner + "socket\navsdebug\nline Info: Starting encode\n";

std::string VolumeScript(int percent_step) {
  std::string script = kStarted;
  for (int p = percent_step; p < 100; p += percent_step)
    script += "line Encoding@450k: Pass 1 (" + std::to_string(p) + "%)\nsleep 5\n";
  return script + "line Done encoding\n";
}

class RunnerWithEncoder : public kv_test::QueueWindowTest {
 protected:
  RunnerWithEncoder() { app::Shell().EncoderPath = KV_TEST_ENCODER; }

  // A job of `volumes` one-pass volumes; `scripts[k-1]` is played by the
  // encoder for volume k.
  std::string MakeScriptedJob(const std::string& name, const std::string& progress,
                              const std::vector<std::string>& scripts) {
    const std::string folder = MakeJob(name, progress, static_cast<int>(scripts.size()));
    for (size_t k = 1; k <= scripts.size(); ++k) {
      char file[32];
      std::snprintf(file, sizeof file, "out%.2zu.rpjf", k);
      const std::string data = queue::JobDataFolderOf(folder);
      kv_test::WriteFile(data + file,
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                         "<job xmlns=\"http://ns.real.com/tools/job.2.0\">\r\n"
                         "<enableTwoPass type=\"bool\">false</enableTwoPass>\r\n"
                         "<encoderComplexity type=\"uint\">85</encoderComplexity>\r\n"
                         "</job>\r\n");
      kv_test::WriteFile(data + file + ".script", scripts[k - 1]);
    }
    return folder;
  }

  void WaitForIdle() {
    ServeEventsUntil([this] { return !Window().EncodingActive(); });
  }
};

TEST_F(RunnerWithEncoder, EncodesAThreeVolumeJobEndToEnd) {
  // Each volume's encoder goes on only once the test has seen a caption
  // change ("seen" files, one per change), so no volume can pass unseen
  // however fast it runs against the test's look at the window.
  std::vector<std::string> scripts;
  for (int step : {25, 20, 50}) {
    const std::string seen = "wait_file seen" + std::to_string(scripts.size() + 1) + "\n";
    scripts.push_back(kStarted + seen + VolumeScript(step).substr(kStarted.size()));
  }
  const std::string job = MakeScriptedJob("Three", "0 / 3", scripts);
  kv_test::WriteFile(job + "/Three_01.rmvb", "video");
  OpenWith(queue::MakeEncoderController(), queue::MakeRunnerClock());
  Select(0);
  Action("StartItem")->trigger();
  std::vector<std::string> volume_captions;
  ServeEventsUntil([&] {
    const std::string caption = Text("ProgVolLabel1").toStdString();
    if (caption.rfind("Volume ", 0) == 0 &&
        (volume_captions.empty() || volume_captions.back() != caption)) {
      volume_captions.push_back(caption);
      const std::string data = queue::JobDataFolderOf(job);
      if (platform::DirectoryExists(data))
        kv_test::WriteFile(data + "seen" + std::to_string(volume_captions.size()), "");
    }
    return !Window().EncodingActive();
  });
  EXPECT_EQ(volume_captions,
            (std::vector<std::string>{"Volume 1 / 3:", "Volume 2 / 3:", "Volume 3 / 3:"}));
  EXPECT_EQ(StateOf(0), JobState::Done);
  EXPECT_FALSE(platform::DirectoryExists(queue::JobDataFolderOf(job)));
  EXPECT_EQ(kv_test::ReadFile(job + "/Three_01.rmvb"), "video");
  EXPECT_EQ(registry_.Store().ReadDWord(platform::RegistryRoot::LocalMachine,
                                        std::string(queue::kJobsKey) + "\\0", "Done"),
            1u);
  EXPECT_EQ(Text("ProgTotalLabel2"), "100.0 %");
  EXPECT_EQ(Window().windowTitle(), "Kestrevane");
  EXPECT_TRUE(boxes_.Messages().empty());
}

TEST_F(RunnerWithEncoder, AFailedVolumeLeavesTheJobFileAsAfterTheLastFinishedOne) {
  const std::string job = MakeScriptedJob(
      "Fails", "0 / 3",
      {VolumeScript(50), VolumeScript(50), kStarted + "line Error: the script cannot be read\n"});
  OpenWith(queue::MakeEncoderController(), queue::MakeRunnerClock());
  Select(0);
  boxes_.Answer(MessageAnswer::Ok);
  Action("StartItem")->trigger();
  WaitForIdle();
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Encoding failed!");
  EXPECT_EQ(queue::ReadJobFileLines(queue::JobFilePathOf(job))->progress, "2 / 3");
  EXPECT_EQ(StateOf(0), JobState::Pending);
  EXPECT_TRUE(platform::DirectoryExists(queue::JobDataFolderOf(job)));
}

TEST_F(RunnerWithEncoder, AbortStopsTheEncoderThroughItsSignalCatcher) {
  const std::string job =
      MakeScriptedJob("Aborted", "1 / 3", {"", kStarted + "wait_stop\n", VolumeScript(50)});
  OpenWith(queue::MakeEncoderController(), queue::MakeRunnerClock());
  Select(0);
  Action("StartItem")->trigger();
  boxes_.Answer(MessageAnswer::Yes);
  Action("AbortItem")->trigger();  // waits for the banner, then asks the encoder to stop
  WaitForIdle();
  EXPECT_EQ(sounds_.played, (std::vector<SystemSound>{SystemSound::Exclamation}));
  EXPECT_EQ(StateOf(0), JobState::Pending);
  EXPECT_EQ(queue::ReadJobFileLines(queue::JobFilePathOf(job))->progress, "1 / 3");
  EXPECT_TRUE(platform::FileExists(queue::JobDataFolderOf(job) + "stops.log"))
      << "the stop went through the signal catcher";
  EXPECT_EQ(power_off_.requests, 0);
}

TEST_F(RunnerWithEncoder, AMissingEncoderCannotStart) {
  MakeScriptedJob("NoEncoder", "0 / 1", {VolumeScript(50)});
  app::Shell().EncoderPath = dir_.File("program/helix/producer");
  OpenWith(queue::MakeEncoderController(), queue::MakeRunnerClock());
  Select(0);
  boxes_.Answer(MessageAnswer::Ok);
  Action("StartItem")->trigger();
  WaitForIdle();
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Unable to initialize encoder!");
}

}  // namespace
