#pragma once

#include <string>

#include "queue/job_entry.h"

namespace queue {

// What the details panel shows for a row: the job's texts, the volume line
// and the total line.
struct JobDetails {
  std::string job, date, time, left;
  std::string volume_caption;  // "Volume:" or "Volume %d / %d:"
  std::string volume_percent;  // "0.0 %" or "100.0 %"
  int volume_bar = 0;
  std::string total_percent;  // "%.1f %%"
  int total_bar = 0;
};

JobDetails DetailsOf(const JobEntry& row);

// "%.1f %%" of a percentage, the form every percentage label uses.
std::string FormatPercent(double percent);
// "Volume %d / %d:", the caption of the volume line.
std::string VolumeCaption(int volume, int volumes);

// The application's title while a job encodes: "Kestrevane - 37.5%".
std::string EncodingTitle(double job_percent);
// What a window's caption gets after its own text while a job encodes:
// " - Encoding 37.5%".
std::string EncodingCaptionSuffix(double job_percent);

}  // namespace queue
