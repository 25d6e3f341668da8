// The runner behind the queue window: Encode and Batch Encode over real job
// folders and a real registry store, the encoder's notifications played by
// the test through the recording controller, the clock moved by hand, the
// power-off and the sounds answered by recorders.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <chrono>

#include "app/shell_state.h"
#include "platform/file_system.h"
#include "queue/job_file.h"
#include "tests/queue/queue_window_fixture.h"

namespace {

using platform::MessageAnswer;
using platform::SystemSound;
using queue::JobState;
using namespace std::chrono_literals;

class JobRunner : public kv_test::QueueWindowTest {
 protected:
  void ShutdownAfter(const char* radio, int count) {
    ClickShutCheck();
    auto* button = Window().findChild<QRadioButton*>(radio);
    button->click();
    queue::UpDown* spinner =
        Spinner(std::string(radio) == "ShutJobRadio" ? "ShutJobUpDown" : "ShutVolUpDown");
    if (spinner) spinner->SetPosition(count);
  }
  // The encoder ran volume `volume` of `volumes` to its end.
  void FinishVolume(int volume, int volumes) { encoder_->Finish(volume, volumes); }
};

TEST_F(JobRunner, EncodesTheRemainingVolumesOfTheSelectedJobAndCompletesIt) {
  const std::string job = MakeJob("Holiday", "1 / 3", 3, "01:05", "02:10");
  kv_test::WriteFile(job + "/Holiday_01.rmvb", "output");
  Open();
  Select(0);
  Action("StartItem")->trigger();

  ASSERT_EQ(encoder_->starts.size(), 1u);
  EXPECT_EQ(encoder_->starts[0].job_file, "out02.rpjf");
  EXPECT_EQ(encoder_->starts[0].volume, 2);
  EXPECT_EQ(encoder_->starts[0].volumes, 3);
  EXPECT_EQ(encoder_->starts[0].encoder_path, app::Shell().ProgramFolder + "helix/producer");
  EXPECT_EQ(encoder_->starts[0].priority, queue::PriorityClass::Normal);
  EXPECT_EQ(platform::WithoutTrailingSeparators(encoder_->starts[0].folder),
            platform::WithoutTrailingSeparators(queue::JobDataFolderOf(job)));
  EXPECT_EQ(Text("ProgVolLabel1"), "Volume 2 / 3:");
  EXPECT_EQ(Text("ProgTimeLabel"), "01:05");
  EXPECT_EQ(StateOf(0), JobState::Running);
  EXPECT_TRUE(Window().EncodingActive());
  for (const char* name :
       {"StartItem", "StartAllItem", "NewItem", "AddItem", "DelItem", "UpItem", "DownItem"})
    EXPECT_FALSE(Enabled(name)) << name;
  EXPECT_TRUE(Enabled("AbortItem"));
  EXPECT_TRUE(Enabled("ProgJobLabel")) << "the running job is shown in full colour";

  FinishVolume(2, 3);
  EXPECT_EQ(Row(0).Progress, "2 / 3");
  EXPECT_EQ(queue::ReadJobFileLines(queue::JobFilePathOf(job))->progress, "2 / 3");
  ASSERT_EQ(encoder_->starts.size(), 2u);
  EXPECT_EQ(encoder_->starts[1].job_file, "out03.rpjf");
  EXPECT_EQ(Text("ProgVolLabel1"), "Volume 3 / 3:");

  FinishVolume(3, 3);
  EXPECT_EQ(StateOf(0), JobState::Done);
  EXPECT_FALSE(platform::DirectoryExists(queue::JobDataFolderOf(job)));
  EXPECT_EQ(kv_test::ReadFile(job + "/Holiday_01.rmvb"), "output") << "the output stays";
  EXPECT_EQ(registry_.Store().ReadDWord(platform::RegistryRoot::LocalMachine,
                                        std::string(queue::kJobsKey) + "\\0", "Done"),
            1u);
  EXPECT_EQ(Text("ProgTotalLabel2"), "100.0 %");
  EXPECT_FALSE(Window().EncodingActive());
  EXPECT_FALSE(Enabled("AbortItem"));
  EXPECT_FALSE(Enabled("StartAllItem"));
  EXPECT_EQ(sounds_.played, (std::vector<SystemSound>{SystemSound::Default}));
  EXPECT_EQ(power_off_.requests, 0);
}

TEST_F(JobRunner, ShowsTheJobPercentageInTheTitlesAndPutsThemBack) {
  MakeJob("Four", "1 / 4", 4);
  Open();
  auto main_window = std::make_unique<QWidget>();
  main_window->setWindowTitle("Kestrevane");
  app::Shell().MainWindow = main_window.get();
  Select(0);
  Action("StartItem")->trigger();
  encoder_->Progress(50.0, true);
  EXPECT_EQ(Text("ProgVolLabel2"), "50.0 %");
  EXPECT_EQ(Text("ProgTotalLabel2"), "37.5 %");
  EXPECT_EQ(Bar("ProgTotalBar"), 37);
  EXPECT_EQ(Window().windowTitle(), "Kestrevane - Encoding 37.5%");
  EXPECT_EQ(main_window->windowTitle(), "Kestrevane - 37.5%");
  FinishVolume(2, 4);
  FinishVolume(3, 4);
  encoder_->Progress(99.95, false);  // 99.99 % of the job rounds up to 100
  EXPECT_EQ(Window().windowTitle(), "Kestrevane");
  EXPECT_EQ(main_window->windowTitle(), "Kestrevane");
  app::Shell().MainWindow = nullptr;
}

TEST_F(JobRunner, TheElapsedTimeStartsFromTheStoredTimeAndGrowsByTenSeconds) {
  MakeJob("Timed", "1 / 3", 3, "01:05", "02:10");
  Open();
  Select(0);
  Action("StartItem")->trigger();
  clock_->Advance(50s);  // 01:05:50
  EXPECT_EQ(Text("ProgTimeLabel"), "01:05");
  EXPECT_EQ(Text("ProgLeftLabel"), "02:10") << "no percentage yet: the stored estimate stays";
  clock_->Advance(10s);  // 01:06:00
  EXPECT_EQ(Text("ProgTimeLabel"), "01:06");
  EXPECT_EQ(Row(0).Time, "01:06");
}

TEST_F(JobRunner, TheEstimateFollowsTheSampledRate) {
  MakeJob("Rate", "0 / 2", 2);
  Open();
  Select(0);
  Action("StartItem")->trigger();
  EXPECT_EQ(Text("ProgTimeLabel"), "00:00");
  // 25 % of the job in the first second (at least one whole second must
  // have passed for a sample to count).
  clock_->Advance(1100ms);
  encoder_->Progress(50.0, true);
  clock_->Tick();
  // d = 1 s, e = 1 * 25 / 1 = 25 %, r = 1 * 75 / 25 = 3 s: "00:00".
  EXPECT_EQ(Text("ProgLeftLabel"), "00:00");
  EXPECT_EQ(Row(0).Left, "00:00");
}

TEST_F(JobRunner, AVolumeCountOfOneStopsInTheMiddleOfAJobAndSwitchesOff) {
  const std::string job = MakeJob("Long", "0 / 3", 3);
  Open();
  Select(0);
  ShutdownAfter("ShutVolRadio", 1);
  Action("StartItem")->trigger();
  FinishVolume(1, 3);
  EXPECT_EQ(encoder_->starts.size(), 1u) << "no further volume is started";
  EXPECT_EQ(StateOf(0), JobState::Pending);
  EXPECT_EQ(queue::ReadJobFileLines(queue::JobFilePathOf(job))->progress, "1 / 3");
  clock_->Advance(60s);  // the power-off's countdown
  EXPECT_EQ(power_off_.requests, 1);
  EXPECT_FALSE(Window().EncodingActive());
  EXPECT_EQ(Window().windowTitle(), "Kestrevane");
  // After the run the maxima are the queue's totals again, less what was done.
  EXPECT_EQ(Spinner("ShutVolUpDown")->Maximum(), 2);
  EXPECT_EQ(Spinner("ShutJobUpDown")->Maximum(), 1);
}

TEST_F(JobRunner, AJobCountOfTwoSwitchesOffAfterTheSecondJobAFailureCountingAsOne) {
  MakeJob("One", "0 / 1", 1);
  MakeJob("Two", "0 / 1", 1);
  MakeJob("Three", "0 / 1", 1);
  Open();
  ShutdownAfter("ShutJobRadio", 2);
  Action("StartAllItem")->trigger();
  ASSERT_EQ(encoder_->starts.size(), 1u);
  encoder_->Stop(true, "Encoding failed!");
  EXPECT_TRUE(boxes_.Messages().empty()) << "unattended: only the sound";
  EXPECT_EQ(sounds_.played, (std::vector<SystemSound>{SystemSound::Error}));
  ASSERT_EQ(encoder_->starts.size(), 2u) << "the batch goes on with the next job";
  FinishVolume(1, 1);
  EXPECT_EQ(encoder_->starts.size(), 2u) << "the count is reached: no third job";
  clock_->Advance(60s);  // the power-off's countdown
  EXPECT_EQ(power_off_.requests, 1);
  EXPECT_EQ(StateOf(0), JobState::Pending);
  EXPECT_EQ(StateOf(1), JobState::Done);
  EXPECT_EQ(StateOf(2), JobState::Pending);
}

TEST_F(JobRunner, ABatchSkipsRowsThatAreNotPendingAndGoesOnAfterAFailure) {
  MakeJob("Done", "1 / 1", 1);
  ListJob(dir_.File("jobs/Broken"), "Broken");
  MakeJob("A", "0 / 1", 1);
  MakeJob("B", "0 / 2", 2);
  Open();
  Action("StartAllItem")->trigger();
  ASSERT_EQ(encoder_->starts.size(), 1u);
  EXPECT_EQ(StateOf(2), JobState::Running);
  encoder_->Stop(true, "Encoder was abnormally terminated!");
  ASSERT_EQ(encoder_->starts.size(), 2u);
  EXPECT_EQ(StateOf(2), JobState::Pending);
  EXPECT_EQ(StateOf(3), JobState::Running);
  FinishVolume(1, 2);
  FinishVolume(2, 2);
  EXPECT_EQ(StateOf(3), JobState::Done);
  EXPECT_EQ(encoder_->starts.size(), 3u) << "the failed row above is not taken up again";
  EXPECT_FALSE(Window().EncodingActive());
  EXPECT_TRUE(Enabled("StartAllItem")) << "row A is still pending";
  EXPECT_EQ(power_off_.requests, 0);
}

TEST_F(JobRunner, AFailedSingleJobShowsTheMessageAndKeepsItsJobFile) {
  const std::string job = MakeJob("Fails", "1 / 3", 3, "00:30", "01:00");
  const std::string before = JobFileText(job);
  Open();
  Select(0);
  Action("StartItem")->trigger();
  clock_->Advance(10s);
  boxes_.Answer(MessageAnswer::Ok);
  encoder_->Stop(true, "Encoding failed!");
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Encoding failed!");
  EXPECT_EQ(boxes_.Messages()[0].icon, platform::MessageIcon::Error);
  EXPECT_EQ(JobFileText(job), before);
  EXPECT_EQ(StateOf(0), JobState::Pending);
  EXPECT_EQ(Row(0).Time, "00:30") << "the time as of the last finished volume";
  EXPECT_EQ(Row(0).Left, "01:00");
  EXPECT_EQ(Text("ProgVolLabel2"), "0.0 %");
  EXPECT_TRUE(Enabled("StartItem"));
  EXPECT_EQ(power_off_.requests, 0);
}

TEST_F(JobRunner, AnEncoderThatCannotStartIsReported) {
  MakeJob("NoEncoder", "0 / 1", 1);
  Open();
  encoder_->start_result = false;
  boxes_.Answer(MessageAnswer::Ok);
  Select(0);
  Action("StartItem")->trigger();
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Unable to initialize encoder!");
  EXPECT_FALSE(Window().EncodingActive());
}

TEST_F(JobRunner, AllSwitchesOffAfterAFailedSingleJobButNeverAfterAnAbort) {
  MakeJob("Job", "0 / 2", 2);
  Open();
  Select(0);
  ShutdownAfter("ShutAllRadio", 0);
  Action("StartItem")->trigger();
  boxes_.Answer(MessageAnswer::Yes);
  Action("AbortItem")->trigger();
  EXPECT_EQ(encoder_->stop_requests, 1);
  encoder_->Stop(false, "");
  EXPECT_EQ(sounds_.played, (std::vector<SystemSound>{SystemSound::Exclamation}));
  EXPECT_EQ(power_off_.requests, 0);
  EXPECT_EQ(StateOf(0), JobState::Pending);

  Select(0);
  Action("StartItem")->trigger();
  encoder_->Stop(true, "Encoding failed!");
  EXPECT_TRUE(boxes_.Messages().size() == 1u) << "power-off chosen: no message box";
  clock_->Advance(60s);  // the power-off's countdown
  EXPECT_EQ(power_off_.requests, 1);
}

TEST_F(JobRunner, AbortBeforeTheBannerWaitsForIt) {
  MakeJob("Job", "0 / 1", 1);
  Open();
  Select(0);
  encoder_->banner_seen = false;
  Action("StartItem")->trigger();
  clock_->on_wait = [this] {
    if (clock_->waits == 3) encoder_->banner_seen = true;
  };
  boxes_.Answer(MessageAnswer::Yes);
  Action("AbortItem")->trigger();
  EXPECT_TRUE(encoder_->banner_seen);
  EXPECT_EQ(encoder_->stop_requests, 1);
  EXPECT_EQ(clock_->waits, 3) << "it asked as soon as the banner was there";
}

TEST_F(JobRunner, AbortBeforeTheBannerEndsWithTheRunWhenTheEncoderEndsFirst) {
  MakeJob("Job", "0 / 1", 1);
  Open();
  Select(0);
  encoder_->banner_seen = false;
  Action("StartItem")->trigger();
  clock_->on_wait = [this] {
    if (clock_->waits == 2) encoder_->Stop(true, "Encoding failed!");
  };
  boxes_.Answer(MessageAnswer::Yes);  // the abort question
  boxes_.Answer(MessageAnswer::Ok);   // the failure
  Action("AbortItem")->trigger();
  EXPECT_EQ(encoder_->stop_requests, 0);
  EXPECT_FALSE(Window().EncodingActive());
}

TEST_F(JobRunner, ClosingWhileEncodingAsksAndNoKeepsEverythingRunning) {
  MakeJob("Job", "0 / 1", 1);
  Open();
  Select(0);
  Action("StartItem")->trigger();
  boxes_.Answer(MessageAnswer::No);
  EXPECT_FALSE(Window().close());
  EXPECT_TRUE(Window().isVisible());
  EXPECT_FALSE(app::Shell().ClosingInProgress);
  EXPECT_TRUE(Window().EncodingActive());
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Do you really want to abort the transcoding process?");

  boxes_.Answer(MessageAnswer::Yes);
  EXPECT_TRUE(Window().close());
  EXPECT_EQ(encoder_->stop_requests, 1);
  EXPECT_TRUE(app::Shell().ClosingInProgress);
  window_.release()->deleteLater();  // the window releases itself
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
