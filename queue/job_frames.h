#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace queue {

// The pictures of a job's title: the coded frames of the video index that
// the job's first volume script decodes, as a measure of the work the job
// is. None when the script or the index cannot be read (a job folder that
// lost its work files).
std::optional<int64_t> JobFrameCount(const std::string& job_folder);

}  // namespace queue
