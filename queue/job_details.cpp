#include "queue/job_details.h"

#include <cstdio>

#include "queue/job_file.h"

namespace queue {

std::string VolumeCaption(int volume, int volumes) {
  char text[64];
  std::snprintf(text, sizeof text, "Volume %d / %d:", volume, volumes);
  return text;
}

std::string FormatPercent(double percent) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", percent);
  return text;
}

std::string EncodingTitle(double job_percent) {
  char text[64];
  std::snprintf(text, sizeof text, "Kestrevane - %.1f%%", job_percent);
  return text;
}

std::string EncodingCaptionSuffix(double job_percent) {
  char text[64];
  std::snprintf(text, sizeof text, " - Encoding %.1f%%", job_percent);
  return text;
}

JobDetails DetailsOf(const JobEntry& row) {
  JobDetails details;
  details.job = row.Name;
  details.date = row.Date;
  details.time = TimeText(row.Time);
  details.left = TimeText(row.Left);
  int done = 0, total = 1;
  if (row.Progress && row.Progress->total > 0) {
    done = row.Progress->done;
    total = row.Progress->total;
    if (done == total) {
      details.volume_caption = VolumeCaption(done, total);
      details.volume_percent = "100.0 %";
      details.volume_bar = 100;
    } else {
      details.volume_caption = VolumeCaption(done + 1, total);
      details.volume_percent = "0.0 %";
      details.volume_bar = 0;
    }
  } else {
    // A row without readable progress (a broken job) counts as one volume.
    details.volume_caption = "Volume:";
    const bool done_row = row.State == JobState::Done;
    done = done_row ? 1 : 0;
    total = 1;
    details.volume_percent = done_row ? "100.0 %" : "0.0 %";
    details.volume_bar = done_row ? 100 : 0;
  }
  const double total_percent = done * 100.0 / total;
  details.total_percent = FormatPercent(total_percent);
  details.total_bar = static_cast<int>(total_percent);
  return details;
}

}  // namespace queue
