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
#include "queue/queue_window.h"
#include "queue/up_down.h"
#include "tests/support/recorders.h"
#include "tests/support/scoped_registry.h"
#include "tests/support/temp_dir.h"

namespace kv_test {

// An encoder controller that records what the runner asks of it; the test
// plays the encoder's notifications itself.
class RecordingEncoder : public queue::EncoderController {
 public:
  struct Start {
    std::string encoder_path, job_file, folder;
    int volume, volumes;
    queue::PriorityClass priority;
  };
  void SetEvents(queue::EncoderEvents* events) override { events_ = events; }
  void Close() override { ++closes; }
  bool StartVolume(const std::string& encoder_path, const std::string& job_file, int volume,
                   int volumes, queue::PriorityClass priority) override;
  void RequestStop() override { ++stop_requests; }
  bool BannerSeen() const override { return banner_seen; }
  bool ChildRunning() const override { return child_running; }
  void SetChildPriority(queue::PriorityClass priority) override {
    priority_changes.push_back(priority);
  }

  std::vector<Start> starts;
  std::vector<queue::PriorityClass> priority_changes;
  int closes = 0;
  int stop_requests = 0;
  bool start_result = true;
  bool banner_seen = true;
  bool child_running = false;
  queue::EncoderEvents* events_ = nullptr;
};

// A queue window on a registry store of its own, with every dialog, sound
// and the power-off answered by recorders.
class QueueWindowTest : public ::testing::Test {
 protected:
  QueueWindowTest();
  ~QueueWindowTest() override;

  // A job folder with its JobFile and `volumes` encoder job files, listed in
  // the registry as entry `index`.
  std::string MakeJob(const std::string& name, const std::string& progress, int volumes,
                      const std::string& time = "--", const std::string& left = "--");
  void ListJob(const std::string& folder, const std::string& name, bool done = false);
  // Creates and shows the window (it loads the list on show) with a
  // recording encoder controller, or with the given one.
  void Open();
  void OpenWith(std::unique_ptr<queue::EncoderController> encoder);

  queue::TKVNMenuForm& Window() { return *window_; }
  QAction* Action(const char* name);
  QString Text(const char* name);
  bool Enabled(const char* name);
  queue::UpDown* Spinner(const char* name);
  int Bar(const char* name);
  void Select(int row);
  void ClickShutCheck();
  std::string JobFileText(const std::string& folder);
  std::vector<std::string> RegistryNames();

  TempDir dir_{"kv-queue-window"};
  ScopedRegistry registry_;
  MessageBoxRecorder boxes_;
  FolderChooserScript chooser_;
  ShellRecorder shell_;
  SoundRecorder sounds_;
  PowerOffRecorder power_off_;
  RecordingEncoder* encoder_ = nullptr;
  std::unique_ptr<queue::TKVNMenuForm> window_;
  int listed_ = 0;
  std::string previous_folder_;
};

}  // namespace kv_test
