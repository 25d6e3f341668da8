// The runner without any window, as a terminal front end drives it: its
// arithmetic, the power-off counts, and whole runs over real job folders and
// a real registry store, with the encoder played through the recording
// controller and the clock moved by hand.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "queue/job_file.h"
#include "queue/job_runner.h"
#include "queue/queue_edits.h"
#include "queue/run_progress.h"
#include "queue/shutdown_options.h"
#include "tests/queue/queue_jobs_fixture.h"
#include "tests/queue/runner_fakes.h"

namespace {

using namespace std::chrono_literals;
using platform::SystemSound;
using queue::HoursMinutes;
using queue::JobState;
using queue::ShutdownChoice;

std::string Text(std::optional<HoursMinutes> time) {
  return queue::TimeText(time);
}

TEST(RunProgress, JobPercentTimesAndTitles) {
  EXPECT_DOUBLE_EQ(queue::JobPercent(2, 4, 50.0), 37.5);
  EXPECT_DOUBLE_EQ(queue::JobPercent(3, 3, 100.0), 100.0);
  EXPECT_DOUBLE_EQ(queue::JobPercent(1, 0, 40.0), 40.0) << "a job without volumes counts as one";
  EXPECT_TRUE(queue::TitlesShowPercent(98.95));
  EXPECT_FALSE(queue::TitlesShowPercent(99.01)) << "rounds up to 100";
  EXPECT_EQ(queue::HoursMinutesOf(3 * 3600 + 7 * 60 + 59), (HoursMinutes{3, 7}));
  EXPECT_EQ(queue::HoursMinutesOf(125 * 3600), (HoursMinutes{125, 0}));
  EXPECT_EQ(queue::SecondsOf({1, 5}), 3900);
}

TEST(RunProgress, TheEstimateIsTheRestOfTheJobAtTheSampledRate) {
  struct Case {
    queue::RateSample sample;
    int elapsed;
    std::string left;
  };
  const Case cases[] = {
      {{-1.0, -1}, 100, "--"},         // no sample yet
      {{0.01, 30}, 30, "--"},          // too little done to tell
      {{25.0, 0}, 10, "--"},           // not a whole second in
      {{25.0, 1}, 1, "00:00"},         // 3 s to go
      {{10.0, 60}, 120, "00:08"},      // at 20 % after 120 s: 480 s to go
      {{50.0, 1800}, 1800, "00:30"},   // half way after half an hour
      {{1.0, 360}, 360, "09:54"},      // 35640 s
      {{90.0, 100}, 200, "00:00"},     // the job is past its estimate: none left, never negative
      {{99.0, 1000}, 100000, "00:00"}  // long past it
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Text(queue::EstimateTimeLeft(c.sample, c.elapsed)), c.left)
        << c.sample.job_percent << " % at " << c.sample.seconds << " s, now " << c.elapsed << " s";
  }
}

TEST(ShutdownCounts, VolumesJobsAndFailuresCountTowardsThePowerOff) {
  queue::ShutdownOptions options;
  options.enabled = true;
  options.choice = ShutdownChoice::Volumes;
  options.volumes = {2, 5};
  options.jobs = {1, 2};
  EXPECT_FALSE(options.CountFinishedVolume());
  EXPECT_EQ(options.volumes.position, 1);
  EXPECT_EQ(options.volumes.maximum, 4);
  EXPECT_FALSE(options.CountCompletedJob()) << "jobs are not counted while volumes are";
  EXPECT_EQ(options.jobs.position, 1);
  EXPECT_EQ(options.jobs.maximum, 1);
  EXPECT_TRUE(options.CountFinishedVolume());
  EXPECT_EQ(options.volumes.position, 1) << "kept within the range";

  options.volumes = {3, 6};
  EXPECT_FALSE(options.CountFailedJob(2)) << "two volumes lost, one still to count";
  EXPECT_EQ(options.volumes.position, 1);
  EXPECT_EQ(options.volumes.maximum, 4);
  EXPECT_TRUE(options.CountFailedJob(1)) << "the failed job's volumes reach the count";

  options.choice = ShutdownChoice::Jobs;
  options.jobs = {2, 3};
  EXPECT_FALSE(options.CountFailedJob(4));
  EXPECT_EQ(options.jobs.position, 1);
  EXPECT_TRUE(options.CountCompletedJob());

  options.enabled = false;
  options.jobs = {1, 2};
  EXPECT_FALSE(options.CountCompletedJob()) << "without the check box nothing stops";
  EXPECT_EQ(options.jobs.maximum, 1);
}

TEST(ShutdownCounts, NormalisingKeepsTheCountsWithinTheWorkThereIs) {
  queue::ShutdownOptions options;
  options.jobs = {1, 0};
  options.volumes = {5, 3};
  options.Normalise();
  EXPECT_EQ(options.jobs.position, 0) << "nothing to count";
  EXPECT_EQ(options.volumes.position, 3);
  options.enabled = true;
  EXPECT_FALSE(options.Usable());
  options.jobs.maximum = 2;
  options.Normalise();
  EXPECT_EQ(options.jobs.position, 1) << "work again: the count starts at 1";
  EXPECT_TRUE(options.Usable());
  options.volumes.StepUp();
  EXPECT_EQ(options.volumes.position, 3) << "no step beyond the maximum";
  for (int i = 0; i < 5; ++i) options.volumes.StepDown();
  EXPECT_EQ(options.volumes.position, 1);
}

// What a front end sees of a run, the noisy reports left out.
struct RecordingObserver : queue::RunnerObserver {
  void RunStarted() override { events.push_back("run"); }
  void JobStarted(size_t row) override { events.push_back("job " + std::to_string(row)); }
  void VolumeStarted(int volume, int volumes) override {
    events.push_back("volume " + std::to_string(volume) + "/" + std::to_string(volumes));
  }
  void VolumeFinished(size_t row, int volume, int volumes) override {
    events.push_back("finished " + std::to_string(row) + ": " + std::to_string(volume) + "/" +
                     std::to_string(volumes));
  }
  void JobEnded(size_t row, const queue::JobOutcome& outcome) override {
    static const char* const kEnds[] = {"completed", "stopped", "aborted", "failed"};
    std::string text = "ended " + std::to_string(row) + " " + kEnds[static_cast<int>(outcome.end)];
    if (outcome.end == queue::JobEnd::Failed)
      text += (outcome.attended ? " attended: " : " unattended: ") + outcome.message;
    events.push_back(text);
  }
  void RunEnded() override { events.push_back("idle"); }
  void ListSaveFailed() override { events.push_back("not saved"); }
  void TitlesChanged(std::optional<double> job_percent) override { titles.push_back(job_percent); }
  void RowChanged(size_t row) override { changed_rows.push_back(row); }

  std::vector<std::string> events;
  std::vector<std::optional<double>> titles;
  std::vector<size_t> changed_rows;
};

class RunnerModel : public kv_test::QueueJobsTest {
 protected:
  // The runner over the jobs made so far, as a front end without windows
  // sets it up.
  void Load() {
    registry_access_ = std::make_unique<platform::RegistryAccess>(
        registry_.Store(), platform::RegistryRoot::LocalMachine);
    auto encoder = std::make_unique<kv_test::RecordingEncoder>();
    auto clock = std::make_unique<kv_test::FakeRunnerClock>();
    encoder_ = encoder.get();
    clock_ = clock.get();
    runner_ = std::make_unique<queue::JobRunner>(*registry_access_, std::move(encoder),
                                                 std::move(clock), "/opt/encoder");
    runner_->SetObserver(&observer_);
    ASSERT_TRUE(runner_->LoadList());
  }
  const queue::JobEntry& Row(size_t row) { return runner_->Jobs().Jobs().at(row); }

  std::unique_ptr<platform::RegistryAccess> registry_access_;
  kv_test::RecordingEncoder* encoder_ = nullptr;
  kv_test::FakeRunnerClock* clock_ = nullptr;
  RecordingObserver observer_;
  std::unique_ptr<queue::JobRunner> runner_;
};

TEST_F(RunnerModel, ABatchRunsEveryPendingJobInOrderAndRecordsItsWork) {
  const std::string a = MakeJob("A", "0 / 2", 2);
  MakeJob("Done", "1 / 1", 1);
  const std::string b = MakeJob("B", "0 / 1", 1);
  const std::string c = MakeJob("C", "1 / 3", 3, "00:40", "01:20");
  const std::string a_before = JobFileText(a);
  Load();
  ASSERT_TRUE(runner_->EncodeAll());
  EXPECT_FALSE(runner_->EncodeAll()) << "one run at a time";
  encoder_->Stop(true, "Encoding failed!");
  encoder_->Finish(1, 1);
  encoder_->Finish(2, 3);
  encoder_->Finish(3, 3);

  EXPECT_EQ(
      observer_.events,
      (std::vector<std::string>{
          "run", "job 0", "volume 1/2", "ended 0 failed unattended: Encoding failed!", "job 2",
          "volume 1/1", "finished 2: 1/1", "ended 2 completed", "job 3", "volume 2/3",
          "finished 3: 2/3", "volume 3/3", "finished 3: 3/3", "ended 3 completed", "idle"}));
  EXPECT_EQ(sounds_.played, (std::vector<SystemSound>{SystemSound::Error, SystemSound::Default,
                                                      SystemSound::Default}));
  ASSERT_EQ(encoder_->starts.size(), 4u);
  EXPECT_EQ(encoder_->starts[3].job_file, "out03.rpjf");
  EXPECT_EQ(encoder_->starts[3].encoder_path, "/opt/encoder");
  EXPECT_EQ(Row(0).State, JobState::Pending);
  EXPECT_EQ(JobFileText(a), a_before) << "the failed job restarts where it stood";
  EXPECT_EQ(Row(2).State, JobState::Done);
  EXPECT_EQ(Row(3).State, JobState::Done);
  EXPECT_FALSE(platform::DirectoryExists(queue::JobDataFolderOf(b)));
  EXPECT_FALSE(platform::DirectoryExists(queue::JobDataFolderOf(c)));
  EXPECT_EQ(RegistryDone(2), 1u);
  EXPECT_EQ(RegistryDone(3), 1u);
  EXPECT_EQ(RegistryDone(0), 0u);
  EXPECT_FALSE(runner_->Running());
  EXPECT_FALSE(clock_->Ticking());
  EXPECT_EQ(power_off_.requests, 0);
}

TEST_F(RunnerModel, TheListKeepsItsOrderAndContentsWhileARunGoesOn) {
  MakeJob("A", "0 / 1", 1);
  MakeJob("B", "0 / 2", 2);
  MakeJob("C", "0 / 1", 1);
  Load();
  ASSERT_TRUE(runner_->EncodeJob(1));
  EXPECT_FALSE(runner_->EncodeJob(0));
  EXPECT_FALSE(runner_->SwapJobs(0, 1));
  EXPECT_FALSE(runner_->SwapJobs(1, 2));
  EXPECT_FALSE(runner_->RemoveJob(1));
  EXPECT_FALSE(runner_->RemoveJob(2));
  EXPECT_TRUE(runner_->LoadList()) << "a reload during a run changes nothing";
  EXPECT_EQ(Row(1).State, JobState::Running);
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"A", "B", "C"}));
  encoder_->Finish(1, 2);
  EXPECT_EQ(runner_->RunningRow(), std::optional<size_t>(1));
  encoder_->Finish(2, 2);
  EXPECT_EQ(Row(1).State, JobState::Done);
  EXPECT_EQ(Row(0).State, JobState::Pending) << "a single job: nothing else is started";
  EXPECT_TRUE(runner_->SwapJobs(0, 1)) << "idle again";
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"B", "A", "C"}));
  EXPECT_FALSE(runner_->EncodeJob(0)) << "a done job is not encoded";
}

// The queue window's list commands as plain functions (kestrevane-cli runs
// them too): their refusals while a run goes on, the question before a
// pending job goes, and moves to either end one place at a time.
TEST_F(RunnerModel, ListCommandsRefuseWhatTheWindowGreys) {
  MakeJob("A", "0 / 1", 1);
  MakeJob("B", "0 / 1", 1);
  MakeJob("Done", "1 / 1", 1);
  MakeJob("C", "0 / 1", 1);
  Load();
  EXPECT_FALSE(queue::CanMoveUp(*runner_, 0));
  EXPECT_TRUE(queue::CanMoveDown(*runner_, 2));
  EXPECT_FALSE(queue::CanMoveDown(*runner_, 3));
  EXPECT_FALSE(queue::CanMoveUp(*runner_, 4)) << "no such row";
  EXPECT_EQ(queue::MoveJobTo(*runner_, 3, 0), 0u);
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"C", "A", "B", "Done"}));
  EXPECT_EQ(queue::MoveJobTo(*runner_, 1, 3), 3u);
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"C", "B", "Done", "A"}));

  boxes_.Answer(platform::MessageAnswer::No);
  EXPECT_EQ(queue::RemoveJobAsking(*runner_, 0, nullptr), queue::RemoveOutcome::Kept);
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Do you really want remove this job from the queue?");
  EXPECT_EQ(queue::RemoveJobAsking(*runner_, 2, nullptr), queue::RemoveOutcome::Removed)
      << "a done job goes without a question";
  EXPECT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(queue::RemoveJobAsking(*runner_, 3, nullptr), queue::RemoveOutcome::NoSuchJob);

  ASSERT_TRUE(runner_->EncodeJob(0));
  EXPECT_FALSE(queue::CanMoveDown(*runner_, 0));
  EXPECT_FALSE(queue::CanMoveUp(*runner_, 1));
  EXPECT_EQ(queue::MoveJobTo(*runner_, 2, 0), 2u);
  EXPECT_EQ(queue::RemoveJobAsking(*runner_, 1, nullptr), queue::RemoveOutcome::RunGoesOn);
  EXPECT_EQ(boxes_.Messages().size(), 1u) << "nothing is asked while a run goes on";
  EXPECT_EQ(RegistryNames(), (std::vector<std::string>{"C", "B", "A"}));
  encoder_->Finish(1, 1);
}

TEST_F(RunnerModel, TheTimesFollowTheClock) {
  MakeJob("Timed", "0 / 1", 1, "00:10", "00:20");
  Load();
  EXPECT_EQ(Text(Row(0).Time), "--") << "nothing encoded: no time yet";
  ASSERT_TRUE(runner_->EncodeJob(0));
  EXPECT_EQ(Text(Row(0).Time), "00:00");
  clock_->Advance(60s);
  EXPECT_EQ(Text(Row(0).Time), "00:01");
  EXPECT_EQ(Text(Row(0).Left), "--") << "no rate sampled yet";
  encoder_->Progress(10.0, true);  // 10 % of the job after 60 s
  encoder_->Progress(10.0, false);
  clock_->Advance(60s);
  EXPECT_EQ(Text(Row(0).Time), "00:02");
  EXPECT_EQ(Text(Row(0).Left), "00:08") << "the rest of the job at 10 % a minute";
  clock_->Advance(10min);
  EXPECT_EQ(Text(Row(0).Left), "00:00") << "past the estimate: nothing left, never negative";
  EXPECT_EQ(observer_.changed_rows.size(), 6u + 6u + 60u) << "every tick shows its row";
  encoder_->Stop(false);
  EXPECT_EQ(Text(Row(0).Time), "--") << "an abort puts back the times as at the start";
  EXPECT_EQ(Text(Row(0).Left), "--");
  EXPECT_FALSE(clock_->Ticking());
}

TEST_F(RunnerModel, TheTitlesKeepAFinishedVolumesPercentageUntilTheNextVolumeReports) {
  MakeJob("Two", "0 / 2", 2);
  Load();
  ASSERT_TRUE(runner_->EncodeJob(0));
  encoder_->Progress(50.0);
  encoder_->Finish(1, 2);
  EXPECT_EQ(observer_.titles, (std::vector<std::optional<double>>{25.0, 50.0}))
      << "no plain title between the two volumes";
  encoder_->Progress(0.0, false);
  encoder_->Progress(40.0);
  encoder_->Finish(2, 2);
  EXPECT_EQ(observer_.titles, (std::vector<std::optional<double>>{25.0, 50.0, 50.0, 70.0,
                                                                  std::nullopt, std::nullopt}));
}

TEST_F(RunnerModel, OnlyAnAttendedFailureIsLeftToTheFrontEndToShow) {
  MakeJob("Job", "0 / 1", 1);
  Load();
  ASSERT_TRUE(runner_->EncodeJob(0));
  encoder_->Stop(true, "Encoder was abnormally terminated!");
  EXPECT_TRUE(sounds_.played.empty());
  runner_->SetShutdownEnabled(true);
  runner_->SetShutdownChoice(ShutdownChoice::Volumes);
  runner_->SetShutdownCount(ShutdownChoice::Volumes, 2);
  ASSERT_TRUE(runner_->EncodeJob(0));
  encoder_->Stop(true, "Encoding failed!");
  EXPECT_EQ(sounds_.played, (std::vector<SystemSound>{SystemSound::Error}));
  clock_->Advance(60s);  // the power-off's countdown
  EXPECT_EQ(power_off_.requests, 1) << "the job's one volume reaches the count";
  EXPECT_EQ(observer_.events[3], "ended 0 failed attended: Encoder was abnormally terminated!");
  EXPECT_EQ(observer_.events[8], "ended 0 failed unattended: Encoding failed!");
}

}  // namespace
