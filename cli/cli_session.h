#pragma once

#include <memory>
#include <string>

#include "app/startup_checks.h"
#include "platform/registry_access.h"
#include "platform/single_instance.h"

namespace cli {

// What the program holds while it works, held by the command-line front end
// for the length of a command that analyses, previews or encodes: the
// single-instance lock, the start-up checks (registry entries, the temporary
// frameserver installation) and, at the end, the exit clean-up.
class CliSession {
 public:
  enum class OpenResult { Ready, ProgramRunning, ChecksFailed };

  explicit CliSession(app::StartupEnvironment environment);
  ~CliSession();
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  // Takes the lock and runs the checks; their messages go through the
  // message-box seam.
  OpenResult Open();
  // Only takes the lock, for a command that changes the job list and
  // nothing else (the list's entries are checked as it is loaded).
  OpenResult Lock();

  const app::StartupEnvironment& Environment() const { return environment_; }
  // What the start-up checks set up; only after Open returned Ready.
  platform::RegistryAccess& Registry() const;
  std::string EncoderPath() const;
  std::string ProgramFolder() const;

 private:
  app::StartupEnvironment environment_;
  // What the start-up checks set, as the program keeps it in its shell.
  app::ShellValues values_;
  std::unique_ptr<platform::SingleInstanceLock> lock_;
  bool checks_ran_ = false;
};

// The message for a program that already runs: nothing was changed.
inline constexpr const char* kProgramRunningMessage =
    "Kestrevane is running. Close it before kestrevane-cli analyses, makes or encodes jobs; "
    "nothing was changed.";

}  // namespace cli
