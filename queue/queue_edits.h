#pragma once

#include <cstddef>
#include <string>

#include "queue/job_runner.h"

class QWidget;

namespace queue {

// The queue window's Add Job, Remove Job, Up and Down as plain commands on
// the runner, with their refusals and their messages (shown through the
// message-box seam, owned by `owner`, none on a terminal). The window and
// kestrevane-cli both run them.

enum class AddOutcome { Added, Remote, NotAJob, AlreadyListed };

// Add Job for a chosen or dropped folder: a folder on another computer is
// refused, one without a complete job is an error, a job already in the list
// a note.
AddOutcome AddJobFolder(JobRunner& runner, const std::string& folder, QWidget* owner);

enum class RemoveOutcome { Removed, RunGoesOn, Kept, NoSuchJob };

// Remove Job: never while a run goes on; a pending job only after the user
// said Yes. The job's folder stays on disk.
RemoveOutcome RemoveJobAsking(JobRunner& runner, size_t row, QWidget* owner);

// Up and Down: the row has a neighbour there and no run goes on.
bool CanMoveUp(const JobRunner& runner, size_t row);
bool CanMoveDown(const JobRunner& runner, size_t row);

// Moves the job in `row` one place at a time (as Up or Down would) until it
// stands in `target`; the row it stands in at the end.
size_t MoveJobTo(JobRunner& runner, size_t row, size_t target);

}  // namespace queue
