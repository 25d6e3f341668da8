#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace platform {

// The processes of this user that run the program file `program` with
// `folder` as their working folder, other than this process and `except`.
// A child a program started in a session of its own goes on when the
// program is killed or crashes; this finds it again at the next start.
std::vector<pid_t> StrayProcesses(const std::string& program, const std::string& folder,
                                  pid_t except = 0);

// Kills each of `processes` with the process group it leads (everything it
// started) and waits up to `timeout` for them to be gone; false when one is
// still there.
bool EndStrayProcesses(const std::vector<pid_t>& processes, std::chrono::milliseconds timeout);

}  // namespace platform
