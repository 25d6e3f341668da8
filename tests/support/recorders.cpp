#include "tests/support/recorders.h"

#include <gtest/gtest.h>

namespace kv_test {

// Each recorder installs itself on its seam for its lifetime.

MessageBoxRecorder::MessageBoxRecorder() {
  platform::MessageBoxSeam().Override(this);
}
MessageBoxRecorder::~MessageBoxRecorder() {
  platform::MessageBoxSeam().Override(nullptr);
}

platform::MessageAnswer MessageBoxRecorder::Show(QWidget*, const std::string& text,
                                                 platform::MessageIcon icon,
                                                 platform::MessageButtons buttons) {
  shown_.push_back({text, icon, buttons});
  if (answers_.empty()) {
    ADD_FAILURE() << "unexpected message box: " << text;
    return buttons == platform::MessageButtons::YesNo ? platform::MessageAnswer::No
                                                      : platform::MessageAnswer::Ok;
  }
  const platform::MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

FolderChooserScript::FolderChooserScript() {
  platform::FolderChooserSeam().Override(this);
}
FolderChooserScript::~FolderChooserScript() {
  platform::FolderChooserSeam().Override(nullptr);
}

std::optional<std::string> FolderChooserScript::Choose(const platform::FolderRequest& request) {
  requests_.push_back(request);
  if (answers_.empty()) {
    ADD_FAILURE() << "unexpected folder chooser: " << request.title;
    return std::nullopt;
  }
  auto answer = answers_.front();
  answers_.pop_front();
  return answer;
}

ShellRecorder::ShellRecorder() {
  platform::ShellSeam().Override(this);
}
ShellRecorder::~ShellRecorder() {
  platform::ShellSeam().Override(nullptr);
}

bool ShellRecorder::OpenDocument(const std::string& path) {
  documents.push_back(path);
  return result;
}

bool ShellRecorder::StartProgram(const std::string& program,
                                 const std::vector<std::string>& arguments,
                                 const std::string& working_folder) {
  programs.push_back({program, arguments, working_folder});
  return result;
}

SoundRecorder::SoundRecorder() {
  platform::SoundsSeam().Override(this);
}
SoundRecorder::~SoundRecorder() {
  platform::SoundsSeam().Override(nullptr);
}

PowerOffRecorder::PowerOffRecorder() {
  platform::PowerOffSeam().Override(this);
}
PowerOffRecorder::~PowerOffRecorder() {
  platform::PowerOffSeam().Override(nullptr);
}

bool PowerOffRecorder::Request(std::string* error) {
  ++requests;
  if (!accept && error) *error = "refused by the test";
  return accept;
}

SleepInhibitorRecorder::SleepInhibitorRecorder() {
  platform::SleepInhibitorSeam().Override(this);
}
SleepInhibitorRecorder::~SleepInhibitorRecorder() {
  platform::SleepInhibitorSeam().Override(nullptr);
}

std::unique_ptr<platform::SleepLock> SleepInhibitorRecorder::Inhibit(const std::string& reason) {
  asked.push_back(reason);
  if (!accept) return nullptr;
  struct Lock : platform::SleepLock {
    Lock(std::shared_ptr<Locks> locks, int id) : locks(std::move(locks)), id(id) {}
    ~Lock() override { locks->held.erase(id); }
    std::shared_ptr<Locks> locks;
    int id;
  };
  const int id = locks_->next++;
  locks_->held[id] = reason;
  return std::make_unique<Lock>(locks_, id);
}

std::vector<std::string> SleepInhibitorRecorder::Held() const {
  std::vector<std::string> reasons;
  for (const auto& [id, reason] : locks_->held) reasons.push_back(reason);
  return reasons;
}

NotificationRecorder::NotificationRecorder() {
  platform::NotificationsSeam().Override(this);
}
NotificationRecorder::~NotificationRecorder() {
  platform::NotificationsSeam().Override(nullptr);
}

}  // namespace kv_test
