#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "queue/encoder_controller.h"
#include "queue/job_entry.h"
#include "queue/queue_window.h"
#include "queue/up_down.h"
#include "tests/queue/queue_jobs_fixture.h"
#include "tests/queue/runner_fakes.h"

namespace kv_test {

// A queue window in the application's shell over the jobs of QueueJobsTest.
class QueueWindowTest : public QueueJobsTest {
 protected:
  QueueWindowTest();
  ~QueueWindowTest() override;

  // Creates and shows the window (it loads the list on show) with a
  // recording encoder controller and a clock moved by hand, or with the
  // given controller and clock (none: the clock moved by hand).
  void Open();
  void OpenWith(std::unique_ptr<queue::EncoderController> encoder,
                std::unique_ptr<queue::RunnerClock> clock = nullptr);

  queue::TKVNMenuForm& Window() { return *window_; }
  QAction* Action(const char* name);
  QString Text(const char* name);
  bool Enabled(const char* name);
  queue::UpDown* Spinner(const char* name);
  int Bar(const char* name);
  void Select(int row);
  void ClickShutCheck();

  // A row's values as its columns show them.
  struct RowTexts {
    std::string Progress, Time, Left;
  };
  RowTexts Row(int row);
  queue::JobState StateOf(int row);

  RecordingEncoder* encoder_ = nullptr;
  FakeRunnerClock* clock_ = nullptr;
  std::unique_ptr<queue::TKVNMenuForm> window_;
};

}  // namespace kv_test
