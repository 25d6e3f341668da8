// What the runner does for the desktop around a run, without any window:
// pause and resume on the clock moved by hand, the sleep lock held exactly
// while an encoder runs, the notifications when a job or a batch ends, the
// power-off's countdown, and a batch's time left from the frames of its jobs.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "queue/job_file.h"
#include "queue/job_frames.h"
#include "queue/job_runner.h"
#include "queue/queue_estimate.h"
#include "tessmar/formats/video_index.h"
#include "tests/queue/queue_jobs_fixture.h"
#include "tests/queue/runner_fakes.h"

namespace {

using namespace std::chrono_literals;
using queue::HoursMinutes;
using queue::ShutdownChoice;

std::string Text(std::optional<HoursMinutes> time) {
  return queue::TimeText(time);
}

struct DesktopObserver : queue::RunnerObserver {
  void PauseChanged(bool paused) override { pauses.push_back(paused); }
  void QueueTimeLeftChanged(std::optional<HoursMinutes> left) override {
    queue_left.push_back(Text(left));
  }
  void PowerOffCountdownChanged(std::optional<int> seconds) override {
    countdown.push_back(seconds.value_or(-1));
  }
  std::vector<bool> pauses;
  std::vector<std::string> queue_left;
  std::vector<int> countdown;  // -1: over
};

class RunnerDesktop : public kv_test::QueueJobsTest {
 protected:
  void Load() {
    registry_access_ = std::make_unique<platform::RegistryAccess>(
        registry_.Store(), platform::RegistryRoot::LocalMachine);
    auto encoder = std::make_unique<kv_test::RecordingEncoder>();
    auto clock = std::make_unique<kv_test::FakeRunnerClock>();
    encoder_ = encoder.get();
    clock_ = clock.get();
    encoder_->child_running = true;
    runner_ = std::make_unique<queue::JobRunner>(*registry_access_, std::move(encoder),
                                                 std::move(clock), "/opt/encoder");
    runner_->SetObserver(&observer_);
    ASSERT_TRUE(runner_->LoadList());
  }
  const queue::JobEntry& Row(size_t row) { return runner_->Jobs().Jobs().at(row); }
  void PowerOffAfterAll() {
    runner_->SetShutdownEnabled(true);
    runner_->SetShutdownChoice(ShutdownChoice::All);
  }
  // A job whose first volume script decodes a video index of `frames` frames.
  std::string MakeJobOfFrames(const std::string& name, const std::string& progress, int volumes,
                              int frames) {
    const std::string folder = MakeJob(name, progress, volumes);
    const std::string data = queue::JobDataFolderOf(folder);
    kv_test::WriteFile(data + "out01.avs",
                       "LoadPlugin(\"qmvideo.dll\")\r\n\r\nvideo = qmVideoSource(\"vts01_pgc01_a0."
                       "qmvi\", idct=4, force_film=false)\r\n");
    std::string index;
    namespace f = tessmar::formats;
    f::AppendVideoIndexHead(&index, 6, "vts01_pgc01_a0.vfm");
    index += "Stream_Type=1\nPicture_Size=720x576\nFrame_Rate=25000\n";
    index += f::kVideoIndexLocation;
    for (int frame = 0; frame < frames; ++frame) {
      if (frame % 12 == 0) f::AppendVideoIndexGopHead(&index, frame * 2048, 1, 1);
      index += frame % 12 == 0 ? " 12" : " 10";
    }
    f::AppendVideoIndexEnd(&index, "FINISHED  0.00% VIDEO");
    kv_test::WriteFile(data + "vts01_pgc01_a0.qmvi", index);
    return folder;
  }

  std::unique_ptr<platform::RegistryAccess> registry_access_;
  kv_test::RecordingEncoder* encoder_ = nullptr;
  kv_test::FakeRunnerClock* clock_ = nullptr;
  DesktopObserver observer_;
  std::unique_ptr<queue::JobRunner> runner_;
};

TEST_F(RunnerDesktop, APauseCountsNeitherInTheTimeNorInTheEstimate) {
  MakeJob("Paused", "0 / 1", 1);
  Load();
  EXPECT_FALSE(runner_->Pause()) << "nothing runs";
  ASSERT_TRUE(runner_->EncodeJob(0));
  clock_->Advance(60s);
  encoder_->Progress(10.0, true);  // 10 % of the job after 60 s
  ASSERT_TRUE(runner_->Pause());
  EXPECT_FALSE(runner_->Pause()) << "already paused";
  EXPECT_EQ(encoder_->pauses, 1);
  EXPECT_FALSE(clock_->Ticking());
  EXPECT_TRUE(sleep_.Held().empty()) << "a paused encode lets the computer sleep";
  clock_->Advance(10min);
  ASSERT_TRUE(runner_->Resume());
  EXPECT_FALSE(runner_->Resume());
  EXPECT_EQ(encoder_->resumes, 1);
  EXPECT_EQ(sleep_.Held(), std::vector<std::string>{"Encoding job Paused, volume 1 of 1"});
  clock_->Advance(60s);
  EXPECT_EQ(Text(Row(0).Time), "00:02") << "two minutes of encoding, the ten of the pause left out";
  EXPECT_EQ(Text(Row(0).Left), "00:08") << "the rest of the job at 10 % a minute";
  EXPECT_EQ(observer_.pauses, (std::vector<bool>{true, false}));

  encoder_->child_running = false;
  EXPECT_FALSE(runner_->Pause()) << "no encoder process to stop";
}

TEST_F(RunnerDesktop, AbortWhilePausedLetsTheEncoderGoOnToTakeTheStopMessage) {
  MakeJob("Job", "0 / 2", 2);
  Load();
  ASSERT_TRUE(runner_->EncodeJob(0));
  ASSERT_TRUE(runner_->Pause());
  runner_->Abort();
  EXPECT_EQ(encoder_->resumes, 1);
  EXPECT_EQ(encoder_->stop_requests, 1);
  encoder_->Stop(false);
  EXPECT_FALSE(runner_->Running());
  EXPECT_FALSE(runner_->Paused());
  EXPECT_TRUE(sleep_.Held().empty());
  EXPECT_TRUE(notifications_.shown.empty()) << "the user asked for the abort";
}

TEST_F(RunnerDesktop, AVolumeThatEndsAsThePauseComesEndsThePause) {
  MakeJob("Job", "0 / 2", 2);
  Load();
  ASSERT_TRUE(runner_->EncodeJob(0));
  ASSERT_TRUE(runner_->Pause());
  encoder_->Finish(1, 2);
  EXPECT_FALSE(runner_->Paused());
  EXPECT_TRUE(clock_->Ticking());
  EXPECT_EQ(encoder_->starts.size(), 2u);
  EXPECT_EQ(sleep_.Held(), std::vector<std::string>{"Encoding job Job, volume 2 of 2"});
  EXPECT_EQ(observer_.pauses, (std::vector<bool>{true, false}));
}

TEST_F(RunnerDesktop, TheComputerIsKeptAwakeExactlyWhileABatchEncodes) {
  MakeJob("Holiday", "1 / 3", 3);
  MakeJob("Short", "0 / 1", 1);
  Load();
  EXPECT_TRUE(sleep_.Held().empty());
  ASSERT_TRUE(runner_->EncodeAll());
  EXPECT_EQ(sleep_.Held(), std::vector<std::string>{"Encoding job Holiday, volume 2 of 3"});
  encoder_->Finish(2, 3);
  EXPECT_EQ(sleep_.Held(), std::vector<std::string>{"Encoding job Holiday, volume 3 of 3"})
      << "one lock at a time, taken before the last one goes";
  encoder_->Finish(3, 3);
  encoder_->Stop(true, "Encoding failed!");
  EXPECT_TRUE(sleep_.Held().empty());
  EXPECT_EQ(sleep_.asked, (std::vector<std::string>{"Encoding job Holiday, volume 2 of 3",
                                                    "Encoding job Holiday, volume 3 of 3",
                                                    "Encoding job Short, volume 1 of 1"}));

  sleep_.accept = false;
  ASSERT_TRUE(runner_->EncodeJob(1)) << "a refused lock does not keep the work from running";
  EXPECT_EQ(encoder_->starts.size(), 4u);
  encoder_->Finish(1, 1);
  EXPECT_FALSE(runner_->Running());
}

TEST_F(RunnerDesktop, TheDesktopIsToldWhenAJobOrABatchEnds) {
  MakeJob("Holiday", "1 / 3", 3, "00:40", "01:20");
  MakeJob("Broken", "0 / 2", 2);
  MakeJob("Short", "0 / 1", 1);
  Load();
  ASSERT_TRUE(runner_->EncodeAll());
  encoder_->Finish(2, 3);
  encoder_->Finish(3, 3);
  encoder_->Stop(true, "Encoding failed!");
  encoder_->Finish(1, 1);
  ASSERT_EQ(notifications_.shown.size(), 4u);
  EXPECT_EQ(notifications_.shown[0].summary, "Holiday is done");
  EXPECT_EQ(notifications_.shown[0].body, "3 of 3 volumes encoded in 00:40.");
  EXPECT_EQ(notifications_.shown[1].summary, "Broken failed");
  EXPECT_EQ(notifications_.shown[1].body, "Encoding failed! 0 of 2 volumes encoded.");
  EXPECT_TRUE(notifications_.shown[1].failure);
  EXPECT_EQ(notifications_.shown[2].summary, "Short is done");
  EXPECT_EQ(notifications_.shown[3].summary, "Batch encoding ended");
  EXPECT_EQ(notifications_.shown[3].body, "2 jobs done, 1 failed; 1 job waits in the queue.");
  EXPECT_TRUE(notifications_.shown[3].failure);

  notifications_.shown.clear();
  runner_->SetShutdownEnabled(true);
  runner_->SetShutdownChoice(ShutdownChoice::Volumes);
  runner_->SetShutdownCount(ShutdownChoice::Volumes, 1);
  ASSERT_TRUE(runner_->EncodeJob(1)) << "a single job: no news of the batch";
  encoder_->Finish(1, 2);
  ASSERT_EQ(notifications_.shown.size(), 1u);
  EXPECT_EQ(notifications_.shown[0].summary, "Broken stopped for the power-off");
  EXPECT_EQ(notifications_.shown[0].body, "1 of 2 volumes encoded; the rest waits in the queue.");
  EXPECT_FALSE(notifications_.shown[0].failure);
}

TEST_F(RunnerDesktop, ThePowerOffCountsDownAMinuteAndCanBeCancelled) {
  MakeJob("A", "0 / 1", 1);
  MakeJob("B", "0 / 1", 1);
  Load();
  PowerOffAfterAll();
  ASSERT_TRUE(runner_->EncodeJob(0));
  encoder_->Finish(1, 1);
  EXPECT_TRUE(runner_->PowerOffPending());
  EXPECT_EQ(observer_.countdown, std::vector<int>{60});
  clock_->Advance(59s);
  EXPECT_EQ(power_off_.requests, 0);
  EXPECT_EQ(observer_.countdown.size(), 60u);
  EXPECT_EQ(observer_.countdown.back(), 1);
  clock_->Advance(1s);
  EXPECT_EQ(power_off_.requests, 1) << "nobody answered";
  EXPECT_EQ(observer_.countdown.back(), -1);
  EXPECT_FALSE(runner_->PowerOffPending());

  observer_.countdown.clear();
  ASSERT_TRUE(runner_->EncodeJob(1));
  encoder_->Finish(1, 1);
  clock_->Advance(30s);
  runner_->CancelPowerOff();
  EXPECT_EQ(observer_.countdown.back(), -1);
  clock_->Advance(10min);
  EXPECT_EQ(power_off_.requests, 1) << "cancelled";
}

TEST_F(RunnerDesktop, ANewRunCancelsAPowerOffThatCountsDown) {
  MakeJob("A", "0 / 2", 2);
  Load();
  runner_->SetShutdownEnabled(true);
  runner_->SetShutdownChoice(ShutdownChoice::Volumes);
  runner_->SetShutdownCount(ShutdownChoice::Volumes, 1);
  ASSERT_TRUE(runner_->EncodeJob(0));
  encoder_->Finish(1, 2);
  ASSERT_TRUE(runner_->PowerOffPending());
  runner_->SetShutdownEnabled(false);
  ASSERT_TRUE(runner_->EncodeJob(0));
  EXPECT_FALSE(runner_->PowerOffPending());
  EXPECT_EQ(observer_.countdown, (std::vector<int>{60, -1}));
  clock_->Advance(2min);
  EXPECT_EQ(power_off_.requests, 0);
  EXPECT_EQ(Text(Row(0).Time), "00:02") << "the job's ticks run again";
}

TEST(QueueEstimate, TheWorkAfterTheRunningJobIsCountedInItsFrames) {
  const queue::JobWork running{2, 4, 4000};  // 1000 frames a volume
  const std::vector<queue::JobWork> after = {{3, 3, 600}, {1, 2, std::nullopt}, {2, 2, 5000}};
  queue::ShutdownOptions none;
  queue::QueueWork work = queue::WorkOfBatch(running, 2, after, none);
  EXPECT_DOUBLE_EQ(work.running_job, 4000);
  EXPECT_DOUBLE_EQ(work.after, 600 + 1000 + 5000) << "unknown frames count as the running job's";

  queue::ShutdownOptions jobs;
  jobs.enabled = true;
  jobs.choice = ShutdownChoice::Jobs;
  jobs.jobs = {2, 4};
  EXPECT_DOUBLE_EQ(queue::WorkOfBatch(running, 2, after, jobs).after, 600)
      << "the power-off after two jobs: one after the running one";
  queue::ShutdownOptions volumes = jobs;
  volumes.choice = ShutdownChoice::Volumes;
  volumes.volumes = {4, 8};
  EXPECT_DOUBLE_EQ(queue::WorkOfBatch(running, 2, after, volumes).after, 400)
      << "four volumes: the running job's two, then two of the next";
  volumes.volumes = {1, 8};
  EXPECT_DOUBLE_EQ(queue::WorkOfBatch(running, 2, after, volumes).after, 0);

  work = queue::WorkOfBatch({1, 1, std::nullopt}, 1, after, none);
  EXPECT_DOUBLE_EQ(work.running_job, 1) << "without the running job's frames: volumes";
  EXPECT_DOUBLE_EQ(work.after, 6);

  struct Case {
    queue::RateSample sample;
    int elapsed;
    queue::QueueWork work;
    std::optional<int> seconds;
  };
  const Case cases[] = {
      {{-1.0, -1}, 100, {1000, 1000}, std::nullopt},  // no sample yet
      {{10.0, 60}, 60, {1000, 0}, 540},               // the job's own rest
      {{10.0, 60}, 60, {1000, 500}, 540 + 300},       // 100 frames a minute
      {{10.0, 60}, 600, {1000, 500}, 300},            // the job is past its estimate
      {{50.0, 100}, 100, {0, 500}, std::nullopt},     // no work measure
  };
  for (const Case& c : cases)
    EXPECT_EQ(queue::QueueSecondsLeft(c.sample, c.elapsed, c.work), c.seconds)
        << c.sample.job_percent << " % at " << c.sample.seconds << " s, after " << c.work.after;
}

TEST_F(RunnerDesktop, ABatchShowsItsTimeLeftFromTheFramesOfItsJobs) {
  MakeJobOfFrames("Running", "0 / 2", 2, 600);
  MakeJobOfFrames("Next", "1 / 3", 3, 900);  // two volumes of 300 frames left
  MakeJob("Lost", "0 / 1", 1);               // no work files: as a volume of the running job
  Load();
  EXPECT_EQ(queue::JobFrameCount(Row(0).Path), 600);
  EXPECT_EQ(queue::JobFrameCount(Row(2).Path), std::nullopt);
  ASSERT_TRUE(runner_->EncodeAll());
  clock_->Advance(10s);
  EXPECT_EQ(observer_.queue_left, std::vector<std::string>{"--"}) << "no rate yet";
  clock_->Advance(50s);
  encoder_->Progress(20.0, true);  // 10 % of 600 frames after 60 s: one frame a second
  clock_->Advance(60s);
  // 8 minutes for the rest of the running job, then 600 + 300 frames at one
  // a second.
  EXPECT_EQ(Text(Row(0).Left), "00:08");
  EXPECT_EQ(observer_.queue_left.back(), "00:23");

  runner_->Abort();
  encoder_->Stop(false);
  observer_.queue_left.clear();
  ASSERT_TRUE(runner_->EncodeJob(0));
  clock_->Advance(2min);
  EXPECT_TRUE(observer_.queue_left.empty()) << "a single job has no queue to tell of";
}

}  // namespace
