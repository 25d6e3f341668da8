#include "cli/job_titles.h"

#include <cstdio>
#include <set>

#include "dvd/ifo_reader.h"
#include "wizard/source_rules.h"
#include "wizard/title_files.h"

namespace cli {

namespace {

constexpr const char* kFields[] = {"{vts}", "{pgc}", "{angle}", "{n}"};

std::string TwoDigits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2d", value);
  return text;
}

bool HasFields(const std::string& pattern) {
  for (const char* field : kFields) {
    if (pattern.find(field) != std::string::npos) return true;
  }
  return false;
}

void ReplaceAll(std::string& text, const std::string& field, const std::string& value) {
  for (size_t at = text.find(field); at != std::string::npos; at = text.find(field, at))
    text.replace(at, field.size(), value), at += value.size();
}

}  // namespace

std::vector<TitleArgument> ChainsOfDisc(const std::string& dvd_folder, double min_minutes) {
  std::vector<TitleArgument> chains;
  for (int vts = 1; vts <= 99; ++vts) {
    // The backup stands in for an unreadable information file, as in the
    // wizard's analysis.
    const auto ifo = wizard::OpenTitleSetInformation(dvd_folder, vts);
    if (!ifo) continue;
    for (int pgc = 1; pgc <= ifo->PgcCount(); ++pgc) {
      const auto summary = ifo->Summary(pgc - 1);
      if (!summary) continue;
      const int seconds = summary->hours * 3600 + summary->minutes * 60 + summary->seconds;
      // A chain that plays nothing (a menu's, a jump) is no title.
      if (seconds < min_minutes * 60 || (seconds == 0 && summary->Frames() == 0)) continue;
      chains.push_back({vts, pgc, summary->angles > 1 ? 1 : 0});
    }
  }
  return chains;
}

std::string JobNameFor(const std::string& name, const TitleArgument& title, int place,
                       bool with_angle) {
  if (!HasFields(name)) {
    std::string job = name + " - VTS_" + TwoDigits(title.Vts) + " PGC " + TwoDigits(title.Pgc);
    return with_angle ? job + " Angle " + TwoDigits(title.Angle) : job;
  }
  std::string job = name;
  ReplaceAll(job, kFields[0], TwoDigits(title.Vts));
  ReplaceAll(job, kFields[1], TwoDigits(title.Pgc));
  ReplaceAll(job, kFields[2], TwoDigits(title.Angle));
  ReplaceAll(job, kFields[3], TwoDigits(place));
  return job;
}

std::string PlanJobs(const std::string& name, const std::vector<TitleArgument>& titles,
                     bool several, std::vector<PlannedJob>& out) {
  out.clear();
  if (titles.empty()) {
    out.push_back({name, std::nullopt});
  } else {
    const bool named_by_title = several || HasFields(name);
    for (size_t i = 0; i < titles.size(); ++i) {
      bool angle_shared = false;
      for (const TitleArgument& other : titles) {
        angle_shared = angle_shared || (&other != &titles[i] && other.Vts == titles[i].Vts &&
                                        other.Pgc == titles[i].Pgc);
      }
      const int place = static_cast<int>(i) + 1;
      out.push_back(
          {named_by_title ? JobNameFor(name, titles[i], place, angle_shared) : name, titles[i]});
    }
  }
  std::set<std::string> names;
  for (const PlannedJob& job : out) {
    if (const auto problem = wizard::CheckJobName(job.Name);
        problem != wizard::JobNameProblem::None) {
      return std::string("--name: ") + wizard::JobNameWarning(problem);
    }
    if (!names.insert(job.Name).second) return "--name: two jobs would be named '" + job.Name + "'";
  }
  return {};
}

}  // namespace cli
