#include "cli/cli_session.h"

#include <utility>

namespace cli {

CliSession::CliSession(app::StartupEnvironment environment)
    : environment_(std::move(environment)) {}

CliSession::~CliSession() {
  if (checks_ran_) app::RunExitCleanup(environment_, values_);
  // The lock goes last, as the program frees its name after the clean-up.
  lock_.reset();
}

CliSession::OpenResult CliSession::Lock() {
  using platform::SingleInstanceLock;
  SingleInstanceLock::Attempt attempt = SingleInstanceLock::Acquire(app::kSingleInstanceName);
  // Only another holder means a running program; with no place for the
  // lock the session goes on unguarded, as the program does.
  if (attempt.outcome == SingleInstanceLock::Outcome::HeldByAnother)
    return OpenResult::ProgramRunning;
  lock_ = std::move(attempt.lock);
  return OpenResult::Ready;
}

CliSession::OpenResult CliSession::Open() {
  if (Lock() == OpenResult::ProgramRunning) return OpenResult::ProgramRunning;
  checks_ran_ = true;
  return app::RunStartupChecks(environment_, values_) ? OpenResult::Ready
                                                      : OpenResult::ChecksFailed;
}

}  // namespace cli

namespace cli {

platform::RegistryAccess& CliSession::Registry() const {
  return *values_.RegistryAccess;
}
std::string CliSession::EncoderPath() const {
  return values_.EncoderPath;
}
std::string CliSession::ProgramFolder() const {
  return values_.ProgramFolder;
}

}  // namespace cli
