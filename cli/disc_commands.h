#pragma once

#include <string>

#include "cli/cli_arguments.h"
#include "cli/cli_session.h"
#include "cli/queue_commands.h"
#include "cli/terminal_progress.h"

namespace cli {

// Analyses the disc in `folder` (the DVD folder or its VIDEO_TS folder) into
// a scratch folder and lists what the title page would offer. 0 on success.
int ScanDisc(CliSession& session, const std::string& folder, bool json, ProgressPrinter& progress,
             const InterruptHook& interrupts);

// Makes jobs as the new-job wizard does: the source checks, the analysis,
// the title's preparation, the proposals of the configuration page changed
// as the options ask, the job writer and the queue; one job per title asked
// for, the disc analysed once. 0 when the jobs are in the queue; 2 for an
// argument the disc refuses; 1 for other failures (the jobs made before the
// failing one stay in the queue).
int MakeJobs(CliSession& session, const NewJobArguments& arguments, ProgressPrinter& progress,
             const InterruptHook& interrupts);

}  // namespace cli
