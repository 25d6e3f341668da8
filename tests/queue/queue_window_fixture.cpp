#include "tests/queue/queue_window_fixture.h"

#include <QTest>
#include <cstdio>

#include "app/shell_state.h"
#include "platform/file_system.h"
#include "queue/job_file.h"
#include "queue/job_store.h"

namespace kv_test {

bool RecordingEncoder::StartVolume(const std::string& encoder_path, const std::string& job_file,
                                   int volume, int volumes, queue::PriorityClass priority) {
  starts.push_back({encoder_path, job_file, platform::CurrentFolder(), volume, volumes, priority});
  return start_result;
}

QueueWindowTest::QueueWindowTest() {
  previous_folder_ = platform::CurrentFolder();
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
  platform::SetCurrentFolder(previous_folder_);
}

std::string QueueWindowTest::MakeJob(const std::string& name, const std::string& progress,
                                     int volumes, const std::string& time,
                                     const std::string& left) {
  const std::string folder = dir_.File("jobs/" + name);
  WriteFile(queue::JobFilePathOf(folder),
            queue::FormatJobFileText(name, "09.12.2026 10:00", progress, time, left));
  for (int k = 1; k <= volumes; ++k) {
    char file[32];
    std::snprintf(file, sizeof file, "out%.2d.rpjf", k);
    WriteFile(queue::JobDataFolderOf(folder) + file, "<job/>");
  }
  ListJob(folder, name);
  return folder;
}

void QueueWindowTest::ListJob(const std::string& folder, const std::string& name, bool done) {
  auto& store = registry_.Store();
  const auto root = platform::RegistryRoot::LocalMachine;
  const std::string entry = std::string(queue::kJobsKey) + "\\" + std::to_string(listed_++);
  ASSERT_TRUE(store.CreateKey(root, entry));
  ASSERT_TRUE(store.WriteString(root, entry, "Name", name));
  ASSERT_TRUE(store.WriteString(root, entry, "Date", "09.12.2026 10:00"));
  ASSERT_TRUE(store.WriteString(root, entry, "Path", folder));
  ASSERT_TRUE(store.WriteDWord(root, entry, "Done", done ? 1 : 0));
  ASSERT_TRUE(store.WriteDWord(root, queue::kJobsKey, "Count", static_cast<uint32_t>(listed_)));
}

void QueueWindowTest::Open() {
  auto encoder = std::make_unique<RecordingEncoder>();
  encoder_ = encoder.get();
  OpenWith(std::move(encoder));
}

void QueueWindowTest::OpenWith(std::unique_ptr<queue::EncoderController> encoder) {
  window_ = std::make_unique<queue::TKVNMenuForm>(std::move(encoder));
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
  QRect rect = list->visualItemRect(item);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  ASSERT_TRUE(item->isSelected());
}

void QueueWindowTest::ClickShutCheck() {
  QTest::mouseClick(window_->findChild<QCheckBox*>("ShutCheck"), Qt::LeftButton, {}, QPoint(6, 6));
}

std::string QueueWindowTest::JobFileText(const std::string& folder) {
  return ReadFile(queue::JobFilePathOf(folder));
}

std::vector<std::string> QueueWindowTest::RegistryNames() {
  std::vector<std::string> names;
  auto& store = registry_.Store();
  const auto root = platform::RegistryRoot::LocalMachine;
  const uint32_t count = store.ReadDWord(root, queue::kJobsKey, "Count").value_or(0);
  for (uint32_t i = 0; i < count; ++i) {
    names.push_back(
        store.ReadString(root, std::string(queue::kJobsKey) + "\\" + std::to_string(i), "Name")
            .value_or("<none>"));
  }
  return names;
}

}  // namespace kv_test
