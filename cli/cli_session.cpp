#include "cli/cli_session.h"

#include "app/application.h"
#include "app/shell_state.h"

namespace cli {

CliSession::CliSession(app::StartupEnvironment environment)
    : environment_(std::move(environment)) {}

CliSession::~CliSession() {
  if (checks_ran_) app::RunExitCleanup(environment_);
  // The lock goes last, as the program frees its name after the clean-up.
  lock_.reset();
}

CliSession::OpenResult CliSession::Open() {
  lock_ = platform::SingleInstanceLock::TryAcquire(app::kSingleInstanceName);
  if (!lock_) return OpenResult::ProgramRunning;
  checks_ran_ = true;
  return app::RunStartupChecks(environment_) ? OpenResult::Ready : OpenResult::ChecksFailed;
}

}  // namespace cli

namespace cli {

platform::RegistryAccess& CliSession::Registry() const {
  return *app::Shell().RegistryAccess;
}
std::string CliSession::EncoderPath() const {
  return app::Shell().EncoderPath;
}
std::string CliSession::ProgramFolder() const {
  return app::Shell().ProgramFolder;
}

}  // namespace cli
