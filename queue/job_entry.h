#pragma once

#include <string>

namespace queue {

// The numbering is stored nowhere but kept for the state pictures' order.
enum class JobState { Pending = 0, Running = 1, Done = 2, Broken = 3 };

// One row of the in-memory job list, in queue order.
struct JobEntry {
  std::string Name;
  std::string Date;
  std::string Progress = "--";  // "%d / %d" or "--"
  std::string Time = "--";      // "%.2d:%.2d" or "--"
  std::string Left = "--";      // "%.2d:%.2d" or "--"
  std::string Path;             // the JobFolder, without trailing "/"
  JobState State = JobState::Pending;
};

}  // namespace queue
