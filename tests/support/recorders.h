#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder_chooser.h"
#include "platform/message_box.h"
#include "platform/notifications.h"
#include "platform/power_off.h"
#include "platform/shell.h"
#include "platform/sleep_inhibitor.h"
#include "platform/sounds.h"

namespace kv_test {

// Answers message boxes from a script and records every one shown. A box
// with no scripted answer fails the test and is answered Ok / No.
class MessageBoxRecorder : public platform::MessageBoxes {
 public:
  struct Shown {
    std::string text;
    platform::MessageIcon icon;
    platform::MessageButtons buttons;
  };
  MessageBoxRecorder();
  ~MessageBoxRecorder() override;

  void Answer(platform::MessageAnswer answer) { answers_.push_back(answer); }
  platform::MessageAnswer Show(QWidget* owner, const std::string& text, platform::MessageIcon icon,
                               platform::MessageButtons buttons) override;
  const std::vector<Shown>& Messages() const { return shown_; }

 private:
  std::deque<platform::MessageAnswer> answers_;
  std::vector<Shown> shown_;
};

// Answers folder choosers from a script (nullopt = Cancel).
class FolderChooserScript : public platform::FolderChooser {
 public:
  FolderChooserScript();
  ~FolderChooserScript() override;
  void Answer(std::optional<std::string> folder) { answers_.push_back(std::move(folder)); }
  std::optional<std::string> Choose(const platform::FolderRequest& request) override;
  const std::vector<platform::FolderRequest>& Requests() const { return requests_; }

 private:
  std::deque<std::optional<std::string>> answers_;
  std::vector<platform::FolderRequest> requests_;
};

// Records what would have been opened or started.
class ShellRecorder : public platform::Shell {
 public:
  struct Started {
    std::string program;
    std::vector<std::string> arguments;
    std::string working_folder;
  };
  ShellRecorder();
  ~ShellRecorder() override;
  bool OpenDocument(const std::string& path) override;
  bool StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& working_folder) override;
  std::vector<std::string> documents;
  std::vector<Started> programs;
  bool result = true;
};

class SoundRecorder : public platform::Sounds {
 public:
  SoundRecorder();
  ~SoundRecorder() override;
  void Play(platform::SystemSound sound) override { played.push_back(sound); }
  std::vector<platform::SystemSound> played;
};

// The only power-off a test ever sees.
class PowerOffRecorder : public platform::PowerOff {
 public:
  PowerOffRecorder();
  ~PowerOffRecorder() override;
  bool Request(std::string* error) override;
  int requests = 0;
  bool accept = true;
};

// Hands out sleep locks and knows which of them are still held.
class SleepInhibitorRecorder : public platform::SleepInhibitor {
 public:
  SleepInhibitorRecorder();
  ~SleepInhibitorRecorder() override;
  std::unique_ptr<platform::SleepLock> Inhibit(const std::string& reason) override;
  // The reasons of the locks held now, oldest first.
  std::vector<std::string> Held() const;
  // Every reason a lock was asked for.
  std::vector<std::string> asked;
  bool accept = true;

 private:
  struct Locks {
    int next = 0;
    std::map<int, std::string> held;
  };
  // Shared with the locks, which may outlive the recorder.
  std::shared_ptr<Locks> locks_ = std::make_shared<Locks>();
};

class NotificationRecorder : public platform::Notifications {
 public:
  NotificationRecorder();
  ~NotificationRecorder() override;
  void Notify(const platform::Notification& notification) override {
    shown.push_back(notification);
  }
  std::vector<platform::Notification> shown;
};

}  // namespace kv_test
