#include "wizard/source_rules.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/drive.h"
#include "platform/file_system.h"
#include "wizard/title_files.h"

namespace wizard {

namespace {

// The root a path starts with ("/"); shortened paths keep it in front.
constexpr size_t kRootLength = 1;

bool EntryExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool IsJobNameCharacter(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
         c == '-' || c == '_';
}

JobNameProblem CheckJobName(const std::string& name) {
  for (char c : name) {
    if (!IsJobNameCharacter(static_cast<unsigned char>(c))) return JobNameProblem::InvalidCharacter;
  }
  if (!name.empty() && (name.front() == ' ' || name.back() == ' '))
    return JobNameProblem::BlankAtEdge;
  return JobNameProblem::None;
}

const char* JobNameWarning(JobNameProblem problem) {
  switch (problem) {
    case JobNameProblem::InvalidCharacter:
      return "The name of the job contains invalid characters. Please enter a valid name!";
    case JobNameProblem::BlankAtEdge:
      return "Job names may not start or end with white space. Please enter a valid name!";
    case JobNameProblem::None:
      break;
  }
  return "";
}

bool HasPathSyntax(const std::string& path) {
  return platform::IsAbsoluteLocalPath(path);
}

JobPathResult BuildJobPath(const std::string& name, const std::string& location, int& last_length) {
  JobPathResult result;
  if (name.find('/') != std::string::npos || !HasPathSyntax(location)) return result;
  const bool ends_with_separator = location.back() == '/';
  const int length =
      static_cast<int>(name.size() + location.size()) + (ends_with_separator ? 0 : 1);
  const int name_length = static_cast<int>(name.size());
  const int volume_name = name_length + kLongestVolumeSuffix;
  const int longest_path = length + std::max(kLongestDataFile, 1 + volume_name);
  if (longest_path > kMaxPathLength || volume_name > kMaxNameLength) {
    result.warn_too_long = length > last_length;
    last_length = length;
    return result;
  }
  last_length = length;
  result.job_folder = ends_with_separator ? location + name : location + "/" + name;
  return result;
}

SourceSyntaxResult CheckSourceSyntax(const std::string& source, int& last_length) {
  SourceSyntaxResult result;
  if (!HasPathSyntax(source)) return result;
  const int length = static_cast<int>(source.size()) + (source.back() == '/' ? 0 : 1);
  if (length + kLongestDvdFile > kMaxPathLength) {
    result.warn_too_long = length > last_length;
    last_length = length;
    return result;
  }
  last_length = length;
  result.ok = true;
  return result;
}

std::string ShortenShownPath(const std::string& path) {
  const size_t limit = kShownPathLength;
  std::string text = path;
  size_t from = kRootLength;
  while (text.size() > limit) {
    const size_t separator = text.find('/', from + 1);
    if (separator == std::string::npos) break;
    text = text.substr(0, kRootLength) + "..." + text.substr(separator);
    from = kRootLength + 3;
  }
  if (text.size() > limit) {
    // Keep the head and the tail of the text around "...".
    const size_t last = text.rfind('/');
    const size_t keep = limit - 2;  // characters kept besides "..."
    const size_t head = (last == std::string::npos ? 0 : last) +
                        (keep - (last == std::string::npos ? 0 : last)) / 2;
    text = text.substr(0, head) + "..." + text.substr(text.size() - (keep - head));
  }
  return text;
}

std::optional<std::string> AcceptSourceFields(const SourceFields& fields, WizardState& state) {
  std::string source_path = fields.source;
  if (!source_path.empty() && source_path.back() == '/') source_path.pop_back();
  if (!platform::DirectoryExists(fields.location)) return "The destination location is invalid!";
  if (!platform::IsFixedDrive(fields.job_folder))
    return "Jobs must be stored on an existing fixed drive!";
  if (EntryExists(fields.job_folder))
    return "Job already exists. Change the name or the destination folder!";
  // The source "/" leaves an empty SourcePath; its folder is still "/".
  const std::string source_folder = source_path.empty() ? "/" : source_path;
  if (!platform::DirectoryExists(source_folder))
    return "The specified DVD source path does not exist!";
  // A typed path may lead onto another machine as a chosen one may.
  if (platform::IsNetworkPath(source_folder)) return kRemoteSource;

  std::string dvd_folder;
  bool uses_video_ts = false;
  const std::optional<std::string> video_ts = FindEntryNoCase(source_folder, "VIDEO_TS", true);
  if (video_ts && FolderHoldsTitle(platform::JoinPath(source_folder, *video_ts))) {
    uses_video_ts = true;
    dvd_folder = source_path + "/" + *video_ts + "/";
  } else if (FolderHoldsTitle(source_folder)) {
    dvd_folder = source_path + "/";
  } else {
    return "Unable to find a valid DVD title at the specified location!";
  }

  state.JobName = fields.name;
  state.JobFolder = fields.job_folder;
  state.JobDataFolder = fields.job_folder + "/.kvnj/";
  state.PreviewScriptPath = state.JobDataFolder + "preview.avs";
  state.SourcePath = source_path;
  state.DvdFolder = dvd_folder;
  state.UsesVideoTsSubfolder = uses_video_ts;
  return std::nullopt;
}

}  // namespace wizard
