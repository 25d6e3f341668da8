#pragma once

#include <optional>
#include <string>

#include "queue/job_file.h"

namespace queue {

// What a row tells of a job that did not encode: why its last run failed,
// or why it cannot be encoded at all. The queue window shows it in the
// job's details and as the row's tool tip.

// A failed run: the volume it stopped at and the reason the user was (or,
// in an unattended run, was not) shown: "Volume 2 / 3: Encoding failed!".
std::string FailureRecord(int volume, int volumes, const std::string& reason);

// Why a listed job is broken, from what its folder holds: `lines` as read
// from its JobFile (none: unreadable or missing), `values_valid` whether
// they passed validation, and the name and date the list has for it.
std::string BrokenJobReason(const std::string& job_folder, const std::optional<JobFileLines>& lines,
                            bool values_valid, const std::string& listed_name,
                            const std::string& listed_date);

}  // namespace queue
