#pragma once

#include <string>

namespace producer {

// Whether the encoder may write `output`: it must lie in the job file's
// folder or in that folder's parent (the program writes "../<job>.rmvb"
// from a job's data folder), and be neither the input script nor the job
// file. Paths are relative to the current folder. False with the reason in
// `error`.
bool CheckOutputPath(const std::string& job_path, const std::string& input,
                     const std::string& output, std::string* error);

}  // namespace producer
