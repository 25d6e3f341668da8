// The queue window around a run: the pause button beside Abort, the close
// question while paused, the power-off's countdown window and a batch's time
// left in the status area.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <chrono>

#include "queue/power_off_form.h"
#include "tests/queue/queue_window_fixture.h"

namespace {

using namespace std::chrono_literals;
using platform::MessageAnswer;

class QueueWindowDesktop : public kv_test::QueueWindowTest {
 protected:
  queue::TKVNPowerOffForm* CountdownWindow() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return Window().findChild<queue::TKVNPowerOffForm*>();
  }
  void PowerOffAfterAll() {
    ClickShutCheck();
    Window().findChild<QRadioButton*>("ShutAllRadio")->click();
  }
};

TEST_F(QueueWindowDesktop, PauseStopsTheEncoderAndAClosingWindowStillAsks) {
  MakeJob("Holiday", "0 / 2", 2);
  Open();
  encoder_->child_running = true;
  EXPECT_FALSE(Enabled("PauseItem"));
  Select(0);
  Action("StartItem")->trigger();
  ASSERT_TRUE(Enabled("PauseItem"));
  Action("PauseItem")->trigger();
  EXPECT_TRUE(Window().Runner().Paused());
  EXPECT_EQ(encoder_->pauses, 1);
  EXPECT_EQ(Action("PauseItem")->toolTip(), "Resume");

  boxes_.Answer(MessageAnswer::No);
  EXPECT_FALSE(Window().close()) << "closing while paused asks as while encoding";
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Do you really want to abort the transcoding process?");
  EXPECT_TRUE(Window().Runner().Paused()) << "No leaves the run paused";

  Action("PauseItem")->trigger();
  EXPECT_FALSE(Window().Runner().Paused());
  EXPECT_EQ(encoder_->resumes, 1);
  EXPECT_EQ(Action("PauseItem")->toolTip(), "Pause");
  Action("PauseItem")->trigger();
  encoder_->Finish(1, 2);
  EXPECT_EQ(Action("PauseItem")->toolTip(), "Pause") << "the volume's end ended the pause";
  encoder_->Finish(2, 2);
  EXPECT_FALSE(Enabled("PauseItem"));
}

TEST_F(QueueWindowDesktop, TheCountdownWindowCancelsThePowerOffOrLetsItHappen) {
  MakeJob("A", "0 / 1", 1);
  MakeJob("B", "0 / 1", 1);
  Open();
  PowerOffAfterAll();
  Select(0);
  Action("StartItem")->trigger();
  encoder_->Finish(1, 1);
  queue::TKVNPowerOffForm* countdown = CountdownWindow();
  ASSERT_NE(countdown, nullptr);
  EXPECT_TRUE(countdown->isVisible());
  auto label = [&] { return countdown->findChild<QLabel*>("CountdownLabel")->text(); };
  EXPECT_EQ(label(), "The computer will be switched off in 60 seconds.");
  clock_->Advance(3s);
  EXPECT_EQ(label(), "The computer will be switched off in 57 seconds.");
  clock_->Advance(56s);
  EXPECT_EQ(label(), "The computer will be switched off in 1 second.");
  countdown->findChild<QPushButton*>("CancelButton")->click();
  EXPECT_EQ(CountdownWindow(), nullptr);
  clock_->Advance(5min);
  EXPECT_EQ(power_off_.requests, 0) << "cancelled in its last second";

  Select(1);
  Action("StartItem")->trigger();
  encoder_->Finish(1, 1);
  ASSERT_NE(CountdownWindow(), nullptr);
  clock_->Advance(60s);
  EXPECT_EQ(power_off_.requests, 1) << "nobody at the desk";
  EXPECT_EQ(CountdownWindow(), nullptr);
}

TEST_F(QueueWindowDesktop, ABatchShowsTheQueuesTimeLeftInTheStatusArea) {
  MakeJob("A", "0 / 1", 1);
  MakeJob("B", "0 / 1", 1);
  MakeJob("Single", "0 / 1", 1);
  Open();
  Select(2);
  Action("StartItem")->trigger();
  clock_->Advance(60s);
  EXPECT_EQ(Text("QueueLeftLabel"), "") << "a single job has no queue";
  encoder_->Finish(1, 1);

  Action("StartAllItem")->trigger();
  EXPECT_EQ(Text("QueueLeftLabel"), "Time left for the queue: --");
  clock_->Advance(60s);
  encoder_->Progress(25.0, true);
  clock_->Advance(60s);
  // The first job at 25 % a minute: two minutes to go, then the next job's
  // volume at the same pace (neither job's frames can be read here).
  EXPECT_EQ(Text("ProgLeftLabel"), "00:02");
  EXPECT_EQ(Text("QueueLeftLabel"), "Time left for the queue: 00:06");
  encoder_->Finish(1, 1);
  encoder_->Finish(1, 1);
  EXPECT_EQ(Text("QueueLeftLabel"), "") << "shown only while a batch runs";
}

}  // namespace
