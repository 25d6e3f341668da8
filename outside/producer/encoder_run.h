#pragma once

#include <atomic>
#include <string>

namespace producer {

// Exit codes of the encoder.
enum ExitCode {
  kExitDone = 0,
  kExitFailed = 1,   // an "Error: " line says why
  kExitUsage = 2,    // the command line is wrong
  kExitStopped = 3,  // the stop message ended the run; the file is complete so far
};

// Encodes the encoder job file `job_path`, relative to the current folder,
// printing the console lines. `stop` set ends the run at the next frame,
// with the output ended properly.
int RunEncoderJob(const std::string& job_path, const std::atomic<bool>& stop);

}  // namespace producer
