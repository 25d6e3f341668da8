#include "queue/job_file.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/file_system.h"

namespace queue {

namespace {

constexpr const char* kMarker = ".kvnj";
constexpr size_t kMaxLineLength = 255;

// Reads one line from `pos` up to its line break (a CR before the LF belongs
// to the break), then skips all white space after it, as the file's reader
// has always done. False when no character is left or the line is too long.
bool NextLine(const std::string& text, size_t& pos, std::string& line) {
  if (pos >= text.size()) return false;
  size_t end = text.find('\n', pos);
  if (end == std::string::npos) end = text.size();
  size_t line_end = end;
  if (line_end > pos && text[line_end - 1] == '\r') --line_end;
  line = text.substr(pos, line_end - pos);
  pos = end;
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  return !line.empty() && line.size() <= kMaxLineLength;
}

std::optional<HoursMinutes> ParseTime(const std::string& line, bool& ok) {
  ok = true;
  if (line == kNoValue) return std::nullopt;
  HoursMinutes value;
  if (std::sscanf(line.c_str(), "%d:%d", &value.hours, &value.minutes) != 2 || value.hours < 0 ||
      value.minutes < 0 || value.minutes > 59) {
    ok = false;
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string JobDataFolderOf(const std::string& job_folder) {
  return job_folder + "/.kvnj/";
}

std::string JobFilePathOf(const std::string& job_folder) {
  return JobDataFolderOf(job_folder) + ".kvnj";
}

std::string EncoderJobFileName(int volume) {
  char name[32];
  std::snprintf(name, sizeof name, "out%.2d.rpjf", volume);
  return name;
}

std::optional<JobFileLines> ParseJobFileText(const std::string& text) {
  size_t pos = 0;
  std::string marker;
  if (!NextLine(text, pos, marker) || marker != kMarker) return std::nullopt;
  JobFileLines lines;
  for (std::string* field : {&lines.name, &lines.date, &lines.progress, &lines.time, &lines.left}) {
    if (!NextLine(text, pos, *field)) return std::nullopt;
  }
  return lines;
}

std::optional<JobFileLines> ReadJobFileLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return ParseJobFileText(content.str());
}

std::optional<JobProgress> ValidateJobFileLines(const JobFileLines& lines) {
  JobProgress progress;
  VolumeProgress& volumes = progress.volumes;
  if (std::sscanf(lines.progress.c_str(), "%d / %d", &volumes.done, &volumes.total) != 2 ||
      volumes.done < 0 || volumes.total <= 0 || volumes.done > volumes.total) {
    return std::nullopt;
  }
  bool ok = false;
  progress.time = ParseTime(lines.time, ok);
  if (!ok) return std::nullopt;
  progress.left = ParseTime(lines.left, ok);
  if (!ok) return std::nullopt;
  return progress;
}

std::string FormatHoursMinutes(const HoursMinutes& value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2d:%.2d", value.hours, value.minutes);
  return text;
}

std::string FormatProgress(int done, int total) {
  char text[32];
  std::snprintf(text, sizeof text, "%d / %d", done, total);
  return text;
}

std::string TimeText(const std::optional<HoursMinutes>& value) {
  return value ? FormatHoursMinutes(*value) : kNoValue;
}

std::string ProgressText(const std::optional<VolumeProgress>& value) {
  return value ? FormatProgress(value->done, value->total) : kNoValue;
}

std::string FormatJobFileText(const std::string& name, const std::string& date,
                              const std::string& progress, const std::string& time,
                              const std::string& left) {
  std::string text = kMarker;
  text += "\r\n\r\n";
  text += name + "\r\n" + date + "\r\n" + progress + "\r\n" + time + "\r\n" + left;
  return text;
}

bool WriteJobFile(const JobEntry& entry) {
  // Replaced as a whole, so that a crash never leaves half a JobFile.
  return platform::ReplaceFileContents(
      JobFilePathOf(entry.Path),
      FormatJobFileText(entry.Name, entry.Date, ProgressText(entry.Progress), TimeText(entry.Time),
                        TimeText(entry.Left)));
}

JobEntry EntryFromJobFile(const JobFileLines& lines, const JobProgress& progress,
                          const std::string& path) {
  JobEntry entry;
  entry.Name = lines.name;
  entry.Date = lines.date;
  entry.Path = path;
  entry.Progress = progress.volumes;
  entry.Time = progress.time;
  entry.Left = progress.left;
  if (progress.volumes.done == progress.volumes.total) {
    entry.State = JobState::Done;
    entry.Left.reset();
  } else {
    entry.State = JobState::Pending;
    if (progress.volumes.done == 0) entry.Time = entry.Left = std::nullopt;
  }
  return entry;
}

}  // namespace queue
