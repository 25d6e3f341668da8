// kestrevane-cli: scans discs, makes jobs and runs the queue without windows,
// on the same code as the program's windows. It reads arguments and prints.
#include <unistd.h>

#include <sys/ioctl.h>
#include <QCoreApplication>
#include <cstdio>
#include <functional>

#include "app/outside_close_requests.h"
#include "cli/cli_arguments.h"
#include "cli/cli_session.h"
#include "cli/disc_commands.h"
#include "cli/queue_commands.h"
#include "cli/terminal_messages.h"
#include "platform/registry_access.h"
#include "platform/registry_store.h"

namespace {

int TerminalColumns(std::FILE* stream) {
  winsize size = {};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

int Fail(const std::string& text, int status) {
  std::fprintf(stderr, "%s\n", cli::ErrorLine(text).c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // The encoder control and the runner's clock deliver on an event loop.
  QCoreApplication application(argc, argv);
  const cli::CliRequest request =
      cli::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (request.WantsHelp()) {
    std::fputs(request.HelpText.c_str(), stdout);
    return 0;
  }
  if (request.Failed()) return Fail(request.Error, 2);

  cli::TerminalMessages messages(stdout, stderr);
  platform::ScopedSeamOverride<platform::MessageBoxes> terminal(platform::MessageBoxSeam(),
                                                                messages);
  const app::StartupEnvironment environment = app::StartupEnvironment::OfThisProcess();

  cli::CliSession session(environment);
  const bool edits_list = request.Command == cli::CommandKind::Remove ||
                          request.Command == cli::CommandKind::Add ||
                          request.Command == cli::CommandKind::Move;
  if (request.Command == cli::CommandKind::List || edits_list) {
    // Lists also while the program runs; changes only while it does not.
    if (edits_list && session.Lock() == cli::CliSession::OpenResult::ProgramRunning)
      return Fail(cli::kProgramRunningMessage, 1);
    auto store = platform::RegistryStore::Open(environment.registry_path);
    if (!store) return Fail("Unable to initialize registry entries.", 1);
    platform::RegistryAccess registry(*store, platform::RegistryRoot::LocalMachine);
    if (edits_list) return cli::EditQueue(request, registry, stdout);
    return cli::ListJobs(registry,
                         request.Json        ? cli::ListFormat::Json
                         : request.NamesOnly ? cli::ListFormat::Names
                                             : cli::ListFormat::Table,
                         stdout);
  }

  switch (session.Open()) {
    case cli::CliSession::OpenResult::ProgramRunning:
      return Fail(cli::kProgramRunningMessage, 1);
    case cli::CliSession::OpenResult::ChecksFailed:
      return 1;  // the checks showed their message
    case cli::CliSession::OpenResult::Ready:
      break;
  }

  // Ctrl-C, SIGTERM and SIGHUP abort the work at hand; the session's clean-up
  // then removes the temporary frameserver installation.
  app::OutsideCloseRequests interrupts(true);
  std::function<void()> on_interrupt;
  bool interrupted = false;
  QObject::connect(&interrupts, &app::OutsideCloseRequests::CloseRequested, [&] {
    interrupted = true;
    if (on_interrupt) on_interrupt();
  });
  const cli::InterruptHook hook = [&](std::function<void()> abort) {
    on_interrupt = std::move(abort);
    if (interrupted && on_interrupt) on_interrupt();
  };

  // Beside JSON on standard output, the progress goes to standard error.
  std::FILE* progress_stream = request.Json ? stderr : stdout;
  const bool terminal_output = isatty(fileno(progress_stream)) != 0;
  cli::ProgressPrinter progress(progress_stream, terminal_output, TerminalColumns(progress_stream));
  switch (request.Command) {
    case cli::CommandKind::Scan:
      return cli::ScanDisc(session, request.ScanFolder, request.Json, progress, hook);
    case cli::CommandKind::New:
      return cli::MakeJobs(session, request.New, progress, hook);
    case cli::CommandKind::Encode:
      return cli::EncodeJobs(request.Encode, session.Registry(), session.EncoderPath(), progress,
                             hook);
    default:
      break;
  }
  return 0;
}
