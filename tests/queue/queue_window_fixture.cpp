#include "tests/queue/queue_window_fixture.h"

#include <QTest>

#include "app/application_queue_shell.h"
#include "app/shell_state.h"
#include "platform/file_system.h"
#include "queue/job_file.h"
#include "queue/job_store.h"

namespace kv_test {

QueueWindowTest::QueueWindowTest() {
  app::ResetShell();
  app::ShellState& shell = app::Shell();
  shell.ProgramFolder = dir_.File("program") + "/";
  shell.EncoderPath = shell.ProgramFolder + "helix/producer";
  shell.ApplicationTitle = "Kestrevane";
  shell.RegistryAccess = std::make_unique<platform::RegistryAccess>(
      registry_.Store(), platform::RegistryRoot::LocalMachine);
  MakeFolders(dir_.File("program"));
}

QueueWindowTest::~QueueWindowTest() {
  window_.reset();
  app::ResetShell();
}

void QueueWindowTest::Open() {
  auto encoder = std::make_unique<RecordingEncoder>();
  encoder_ = encoder.get();
  OpenWith(std::move(encoder));
}

void QueueWindowTest::OpenWith(std::unique_ptr<queue::EncoderController> encoder,
                               std::unique_ptr<queue::RunnerClock> clock) {
  if (!clock) {
    auto fake = std::make_unique<FakeRunnerClock>();
    clock_ = fake.get();
    clock = std::move(fake);
  }
  window_ = std::make_unique<queue::TKVNMenuForm>(app::ApplicationQueueShell(), std::move(encoder),
                                                  std::move(clock));
  window_->show();
}

QAction* QueueWindowTest::Action(const char* name) {
  auto* action = window_->findChild<QAction*>(name);
  EXPECT_NE(action, nullptr) << name;
  return action;
}

QString QueueWindowTest::Text(const char* name) {
  if (auto* label = window_->findChild<QLabel*>(name)) return label->text();
  if (auto* edit = window_->findChild<QLineEdit*>(name)) return edit->text();
  ADD_FAILURE() << "no text control " << name;
  return {};
}

bool QueueWindowTest::Enabled(const char* name) {
  if (auto* action = window_->findChild<QAction*>(name)) return action->isEnabled();
  auto* widget = window_->findChild<QWidget*>(name);
  EXPECT_NE(widget, nullptr) << name;
  return widget && widget->isEnabled();
}

queue::UpDown* QueueWindowTest::Spinner(const char* name) {
  return window_->findChild<queue::UpDown*>(name);
}

int QueueWindowTest::Bar(const char* name) {
  return window_->findChild<QProgressBar*>(name)->value();
}

void QueueWindowTest::Select(int row) {
  auto* list = window_->findChild<QTreeWidget*>("JobList");
  QTreeWidgetItem* item = list->topLevelItem(row);
  ASSERT_NE(item, nullptr);
  list->scrollToItem(item);
  QRect rect = list->visualItemRect(item);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  ASSERT_TRUE(item->isSelected());
}

void QueueWindowTest::ClickShutCheck() {
  QTest::mouseClick(window_->findChild<QCheckBox*>("ShutCheck"), Qt::LeftButton, {}, QPoint(6, 6));
}

QueueWindowTest::RowTexts QueueWindowTest::Row(int row) {
  const queue::JobEntry& job = window_->Jobs().Jobs().at(static_cast<size_t>(row));
  return {queue::ProgressText(job.Progress), queue::TimeText(job.Time), queue::TimeText(job.Left)};
}

queue::JobState QueueWindowTest::StateOf(int row) {
  return window_->Jobs().Jobs().at(static_cast<size_t>(row)).State;
}

}  // namespace kv_test
