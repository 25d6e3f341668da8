#include "queue/job_problem.h"

#include "platform/file_system.h"
#include "queue/job_details.h"

namespace queue {

std::string FailureRecord(int volume, int volumes, const std::string& reason) {
  std::string caption = VolumeCaption(volume, volumes);  // "Volume 2 / 3:"
  return caption + " " + reason;
}

std::string BrokenJobReason(const std::string& job_folder, const std::optional<JobFileLines>& lines,
                            bool values_valid, const std::string& listed_name,
                            const std::string& listed_date) {
  const std::string job_file = "\"" + JobFilePathOf(job_folder) + "\"";
  if (!platform::DirectoryExists(job_folder))
    return "The job folder \"" + job_folder + "\" does not exist.";
  if (!lines) {
    if (!platform::FileExists(JobFilePathOf(job_folder)))
      return "The job's status file " + job_file + " is missing.";
    return "The job's status file " + job_file + " cannot be read.";
  }
  if (lines->name != listed_name || lines->date != listed_date)
    return "The job's status file " + job_file + " belongs to another job (\"" + lines->name +
           "\", " + lines->date + ").";
  if (!values_valid) return "The job's status file " + job_file + " holds invalid values.";
  return std::string();
}

}  // namespace queue
