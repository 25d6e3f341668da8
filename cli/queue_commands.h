#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_arguments.h"
#include "cli/terminal_progress.h"
#include "platform/registry_access.h"
#include "queue/job_entry.h"

namespace cli {

// The version of the JSON that "list --json" and "scan --json" print; it
// grows when a field changes its meaning or goes (new fields may come
// without it).
inline constexpr int kJsonFormatVersion = 1;

// A path as the queue keeps folders: absolute, normal, with no trailing "/".
std::string AbsolutePath(const std::string& path);

enum class ListFormat { Table, Json, Names };

// Prints the queue as a table, as JSON or as its names, one a line. Reads
// only; nothing is repaired.
int ListJobs(platform::RegistryAccess& registry, ListFormat format, std::FILE* out);

// The row of JOB: its number in the list (from 1), its name, or its folder.
std::optional<size_t> FindJob(const std::vector<queue::JobEntry>& jobs, const std::string& job);

// Where an interrupt (Ctrl-C) reaches the encoding: the command hands in the
// function that aborts the run, and takes it back when the run is over.
using InterruptHook = std::function<void(std::function<void()> on_interrupt)>;

// Encodes one job or every pending job through the queue's runner with the
// real encoder, on the calling thread's event loop. 0 when every job that
// ran completed; 1 otherwise (the reasons were printed).
int EncodeJobs(const EncodeArguments& arguments, platform::RegistryAccess& registry,
               const std::string& encoder_path, ProgressPrinter& progress,
               const InterruptHook& interrupts);

// "remove", "add" and "move" through the queue window's own commands on the
// queue's runner, with their refusals and messages. 0 when done (or the job
// was listed already); 1 refused or failed (the message says why); 2 for a
// job that is not in the queue.
int EditQueue(const CliRequest& request, platform::RegistryAccess& registry, std::FILE* out);

}  // namespace cli
