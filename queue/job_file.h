#pragma once

#include <optional>
#include <string>

#include "queue/job_entry.h"

namespace queue {

// The five value lines of a JobFile as they stand in the file.
struct JobFileLines {
  std::string name;
  std::string date;
  std::string progress;
  std::string time;
  std::string left;
};

// The validated values of a JobFile.
struct JobProgress {
  VolumeProgress volumes;
  std::optional<HoursMinutes> time;  // nullopt: "--"
  std::optional<HoursMinutes> left;
};

// The text of a value that is not there: a time not taken yet, an estimate
// not made, a progress that could not be read.
inline constexpr const char* kNoValue = "--";

// folder + "/.kvnj/": the hidden folder with every work file of a job.
std::string JobDataFolderOf(const std::string& job_folder);
// The JobFile ".kvnj" inside the JobDataFolder.
std::string JobFilePathOf(const std::string& job_folder);
// "out%.2d.rpjf": the encoder job file of volume `volume` (from 1), in the
// JobDataFolder.
std::string EncoderJobFileName(int volume);

// Reads a JobFile by the reading rules: marker line ".kvnj", then five value
// lines, blank lines and leading white space skipped, each line 1 to 255
// characters. CR LF and bare LF both end a line. nullopt: unreadable.
std::optional<JobFileLines> ReadJobFileLines(const std::string& path);
// The same rules over text already in memory.
std::optional<JobFileLines> ParseJobFileText(const std::string& text);

// Checks progress ("%d / %d", 0 <= done <= total, total > 0) and the two
// time lines ("--" or "%d:%d" with h >= 0 and 0 <= m <= 59).
std::optional<JobProgress> ValidateJobFileLines(const JobFileLines& lines);

// "%.2d:%.2d"; hours may have more digits.
std::string FormatHoursMinutes(const HoursMinutes& value);
std::string FormatProgress(int done, int total);
// The texts of a row's values, in the JobFile and in the list alike: the
// formats above, or "--" for a value that is not there.
std::string TimeText(const std::optional<HoursMinutes>& value);
std::string ProgressText(const std::optional<VolumeProgress>& value);

// The file text: ".kvnj", an empty line, then name, date, progress, time and
// left, with CR LF between lines and none after the last.
std::string FormatJobFileText(const std::string& name, const std::string& date,
                              const std::string& progress, const std::string& time,
                              const std::string& left);

// Rewrites the entry's JobFile; false when it cannot be created or written.
bool WriteJobFile(const JobEntry& entry);

// The row a valid JobFile gives: Done when every volume is encoded (Left
// "--"), else Pending (Time and Left "--" while nothing is encoded yet).
JobEntry EntryFromJobFile(const JobFileLines& lines, const JobProgress& progress,
                          const std::string& path);

}  // namespace queue
