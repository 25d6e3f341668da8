#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_arguments.h"

// Which jobs "new" makes of one disc, and their names.
namespace cli {

struct PlannedJob {
  std::string Name;
  std::optional<TitleArgument> Title;  // none: the longest, as the title page proposes
};

// The program chains of the DVD folder (ending in "/") that play at least
// `min_minutes` (and at all), in the order of their title sets and chains, each with its
// first angle when it has angles; read from its information files.
std::vector<TitleArgument> ChainsOfDisc(const std::string& dvd_folder, double min_minutes);

// "NAME - VTS_vv PGC pp" (" Angle a" after it when `with_angle`), or the
// pattern with {vts}, {pgc}, {angle} and {n} (the job's place, from 1)
// filled in, two digits each.
std::string JobNameFor(const std::string& name, const TitleArgument& title, int place,
                       bool with_angle);

// One job per title, named by JobNameFor when `several` (several titles were
// asked for) or the pattern has fields, else by `name` itself; the angle is
// named where two titles are angles of one program chain. The error
// names --name when two jobs would get one name or a name is not a job name;
// empty when `out` holds the jobs.
std::string PlanJobs(const std::string& name, const std::vector<TitleArgument>& titles,
                     bool several, std::vector<PlannedJob>& out);

}  // namespace cli
