#pragma once

#include <limits.h>

#include <optional>
#include <string>

#include "wizard/wizard_state.h"

namespace wizard {

// The rules of the source page (name, destination and DVD source), apart
// from its controls. Paths are absolute with "/" and no doubled separator.
//
// One length rule, checked here before anything is made: every path the
// job will use fits what the system allows, a whole path (PATH_MAX less its
// terminating NUL) and one name in it.
inline constexpr int kMaxPathLength = PATH_MAX - 1;
inline constexpr int kMaxNameLength = NAME_MAX;
// What a job adds to its folder: the data folder with the longest name put
// there ("/.kvnj/" and "vts99_pgc255_a9_st31.idx"), and beside the data
// folder each volume, named after the job with at most " (10of10)" and a
// roll-over part "_999" before ".rmvb".
inline constexpr int kLongestDataFile = 7 + 24;
inline constexpr int kLongestVolumeSuffix = 18;
// What the analysis adds to the DVD source folder: "VIDEO_TS/VTS_99_9.VOB".
inline constexpr int kLongestDvdFile = 21;
// The job path shown under the fields is shortened to this many characters.
inline constexpr int kShownPathLength = 45;

// Characters a job name may hold: ASCII letters and digits, blank, "-", "_".
bool IsJobNameCharacter(char32_t c);

enum class JobNameProblem { None, InvalidCharacter, BlankAtEdge };
JobNameProblem CheckJobName(const std::string& name);
const char* JobNameWarning(JobNameProblem problem);

// An absolute path with no doubled separator.
bool HasPathSyntax(const std::string& path);

// The job folder from the location and the name, or none. `last_length`
// (the state's LastJobPathLength) makes the too-long warning show only while
// the length grows.
struct JobPathResult {
  std::optional<std::string> job_folder;
  bool warn_too_long = false;
};
JobPathResult BuildJobPath(const std::string& name, const std::string& location, int& last_length);

// Whether the DVD source text is a usable path; `last_length` as above
// (the state's LastSourcePathLength).
struct SourceSyntaxResult {
  bool ok = false;
  bool warn_too_long = false;
};
SourceSyntaxResult CheckSourceSyntax(const std::string& source, int& last_length);

// The job folder as the label shows it: leading folders give way to "..."
// until the text fits, then the middle of the last part.
std::string ShortenShownPath(const std::string& path);

inline constexpr const char* kJobPathTooLong =
    "The length of the full path for the job exceeds the maximum path length allowed by the "
    "system.\nYou must reduce the length of the name or the location.";
inline constexpr const char* kSourcePathTooLong =
    "The length of the full path for the DVD files exceeds the maximum path length allowed by the "
    "system.\nYou must move the files to a different location.";
inline constexpr const char* kRemoteDestination = "Jobs cannot be stored on a remote computer!";
inline constexpr const char* kRemoteSource =
    "The DVD must be located on a local drive! Please copy it to your HDD first.";

// The checks of Next on the source page. On success the job's names and
// folders are set in `state`; otherwise the error to show.
struct SourceFields {
  std::string name;
  std::string location;
  std::string source;
  std::string job_folder;  // as built from the fields
};
std::optional<std::string> AcceptSourceFields(const SourceFields& fields, WizardState& state);

}  // namespace wizard
