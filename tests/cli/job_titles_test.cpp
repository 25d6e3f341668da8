// Which jobs "new" plans for several titles, and their names.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/job_titles.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"

namespace {

using cli::PlanJobs;
using cli::PlannedJob;
using cli::TitleArgument;

std::vector<std::string> Names(const std::vector<PlannedJob>& jobs) {
  std::vector<std::string> names;
  for (const PlannedJob& job : jobs) names.push_back(job.Name);
  return names;
}

TEST(JobTitles, NamesFollowTheTitlesOrThePattern) {
  struct Case {
    std::string name;
    std::vector<TitleArgument> titles;
    bool several;
    std::vector<std::string> names;
    std::string error;
  };
  const std::vector<TitleArgument> two = {{1, 2, 0}, {3, 14, 0}};
  const Case cases[] = {
      {"Film", {}, false, {"Film"}, ""},
      {"Film", {{2, 1, 0}}, false, {"Film"}, ""},
      {"Series", two, true, {"Series - VTS_01 PGC 02", "Series - VTS_03 PGC 14"}, ""},
      // --titles all that found one chain still names it by its title.
      {"Series", {{1, 1, 0}}, true, {"Series - VTS_01 PGC 01"}, ""},
      {"Episode {n}", two, true, {"Episode 01", "Episode 02"}, ""},
      {"S{vts}E{pgc}", {{2, 7, 0}}, false, {"S02E07"}, ""},
      // Two angles of one chain are told apart.
      {"Concert",
       {{1, 1, 1}, {1, 1, 2}},
       true,
       {"Concert - VTS_01 PGC 01 Angle 01", "Concert - VTS_01 PGC 01 Angle 02"},
       ""},
      {"Cut {angle}", {{1, 1, 1}, {1, 1, 2}}, true, {"Cut 01", "Cut 02"}, ""},
      {"Same {vts}", {{1, 2, 0}, {1, 3, 0}}, true, {}, "--name: two jobs would be named 'Same 01'"},
      {"Bad/{n}", two, true, {}, "--name: "},
  };
  for (const Case& c : cases) {
    std::vector<PlannedJob> jobs;
    const std::string error = PlanJobs(c.name, c.titles, c.several, jobs);
    SCOPED_TRACE(c.name);
    if (c.error.empty()) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(Names(jobs), c.names);
      for (size_t i = 0; i < c.titles.size(); ++i) EXPECT_EQ(jobs[i].Title->Pgc, c.titles[i].Pgc);
    } else {
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
  }
  std::vector<PlannedJob> longest;
  ASSERT_EQ(PlanJobs("Film", {}, false, longest), "");
  EXPECT_FALSE(longest[0].Title) << "no title given: the title page's longest";
}

// The program chains and their playing times as the disc's information
// files give them (pal_letterbox: 12 s and 8 s in title set 1).
TEST(JobTitles, ChainsOfTheDiscLongEnough) {
  const std::string disc = kv_test::SampleVideoTs("pal_letterbox") + "/";
  auto pgcs = [&](double minutes) {
    std::vector<int> found;
    for (const TitleArgument& t : cli::ChainsOfDisc(disc, minutes)) {
      EXPECT_EQ(t.Vts, 1);
      EXPECT_EQ(t.Angle, 0);
      found.push_back(t.Pgc);
    }
    return found;
  };
  EXPECT_EQ(pgcs(0), (std::vector<int>{1, 2}));
  EXPECT_EQ(pgcs(10.0 / 60), (std::vector<int>{1}));
  EXPECT_EQ(pgcs(12.0 / 60), (std::vector<int>{1}));
  EXPECT_TRUE(pgcs(13.0 / 60).empty());
  const std::string multi = kv_test::SampleVideoTs("ntsc_multi") + "/";
  EXPECT_EQ(cli::ChainsOfDisc(multi, 0).size(), 2u) << "one chain in each of two title sets";
  EXPECT_EQ(cli::ChainsOfDisc(multi, 0)[1].Vts, 2);
}

// A title set whose information file was emptied is read from its backup,
// as the wizard's analysis does; one without either is left out.
TEST(JobTitles, ChainsOfATitleSetWithAnEmptyInformationFileComeFromItsBackup) {
  namespace fs = std::filesystem;
  kv_test::TempDir dir;
  const std::string disc = dir.File("VIDEO_TS");
  kv_test::MakeFolders(disc);
  for (const auto& entry : fs::directory_iterator(kv_test::SampleVideoTs("ntsc_multi"))) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".IFO" || extension == ".BUP")
      fs::copy_file(entry.path(), fs::path(disc) / entry.path().filename());
  }
  const std::vector<TitleArgument> whole = cli::ChainsOfDisc(disc, 0);
  ASSERT_EQ(whole.size(), 2u);
  fs::resize_file(disc + "/VTS_01_0.IFO", 0);
  const std::vector<TitleArgument> from_backup = cli::ChainsOfDisc(disc, 0);
  ASSERT_EQ(from_backup.size(), 2u);
  EXPECT_EQ(from_backup[0].Vts, 1);
  EXPECT_EQ(from_backup[0].Pgc, whole[0].Pgc);
  fs::resize_file(disc + "/VTS_01_0.BUP", 0);
  const std::vector<TitleArgument> without = cli::ChainsOfDisc(disc, 0);
  ASSERT_EQ(without.size(), 1u);
  EXPECT_EQ(without[0].Vts, 2);
}

}  // namespace
