// The source page's rules: names, the job and DVD paths with their length
// limits, the shortened path and the checks of Next over real folders.
#include "wizard/source_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"
#include "wizard/title_files.h"

namespace {

using wizard::JobNameProblem;

TEST(SourceRules, JobNames) {
  const struct {
    const char* name;
    JobNameProblem problem;
  } cases[] = {
      {"Holiday 2-b_c", JobNameProblem::None},   {"", JobNameProblem::None},
      {"a/b", JobNameProblem::InvalidCharacter}, {"caf\xC3\xA9", JobNameProblem::InvalidCharacter},
      {" lead", JobNameProblem::BlankAtEdge},    {"trail ", JobNameProblem::BlankAtEdge},
      {" a/", JobNameProblem::InvalidCharacter},  // the characters are examined first
  };
  for (const auto& c : cases) EXPECT_EQ(wizard::CheckJobName(c.name), c.problem) << c.name;
}

TEST(SourceRules, JobPathJoinsLocationAndNameWithOneSeparator) {
  const struct {
    const char* name;
    const char* location;
    const char* folder;  // nullptr: no job path
  } cases[] = {
      {"A", "/", "/A"},          {"A", "/Jobs", "/Jobs/A"}, {"A", "/Jobs/", "/Jobs/A"},
      {"A", "Jobs", nullptr},    {"A", "", nullptr},        {"A", "/Jobs//x", nullptr},
      {"a/b", "/Jobs", nullptr},
  };
  for (const auto& c : cases) {
    int last = 0;
    const wizard::JobPathResult result = wizard::BuildJobPath(c.name, c.location, last);
    EXPECT_EQ(result.job_folder.value_or("<none>"), c.folder ? c.folder : "<none>") << c.location;
  }
}

// Lengths are counted as the joined path: "/Jobs" and a name of n characters
// make n + 6. Every path of the job must fit: a volume "name (10of10)_999.rmvb"
// is one name of at most 255 characters, and with a long location the
// volume's whole path of at most 4095. The warning shows only while the
// length grows.
TEST(SourceRules, JobPathLengthWarnsOnlyWhileGrowing) {
  const std::string deep = "/" + std::string(4000, 'l');
  const struct {
    std::string location;
    int name_length;
    bool ok, warns;
  } steps[] = {{"/Jobs", 237, true, false},
               {"/Jobs", 238, false, true},
               {"/Jobs", 239, false, true},
               {"/Jobs", 238, false, false},
               {"/Jobs", 237, true, false},
               {"/Jobs", 238, false, true},
               // 4001 + 1 + n + 1 + n + 18 characters.
               {deep, 37, true, false},
               {deep, 38, false, true}};
  int last = 0;
  for (const auto& step : steps) {
    const auto result =
        wizard::BuildJobPath(std::string(step.name_length, 'n'), step.location, last);
    EXPECT_EQ(result.job_folder.has_value(), step.ok) << step.name_length;
    EXPECT_EQ(result.warn_too_long, step.warns) << step.name_length;
    EXPECT_EQ(last, static_cast<int>(step.location.size()) + 1 + step.name_length);
  }
}

TEST(SourceRules, SourcePathSyntaxAndLength) {
  // With "/VIDEO_TS/VTS_99_9.VOB" the longest whole path: 4073 + 22 = 4095.
  const std::string at_limit = "/" + std::string(4072, 's');
  const struct {
    std::string source;
    bool ok, warns;
  } steps[] = {{"relative/VIDEO_TS", false, false},
               {"/a//b", false, false},
               {at_limit, true, false},
               {at_limit + "/", true, false},
               {at_limit + "x", false, true},
               {at_limit + "xy", false, true},
               {at_limit + "x", false, false},
               {"/", true, false}};
  int last = 0;
  for (const auto& step : steps) {
    const auto result = wizard::CheckSourceSyntax(step.source, last);
    EXPECT_EQ(result.ok, step.ok) << step.source.size();
    EXPECT_EQ(result.warn_too_long, step.warns) << step.source.size();
  }
}

TEST(SourceRules, ShownPathDropsLeadingFoldersThenTheMiddle) {
  const std::string long_name(60, 'n');
  const std::string name = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const struct {
    std::string path, shown;
  } cases[] = {
      {"/Jobs/Short", "/Jobs/Short"},
      {"/Program Files/Some Folder/Another Folder/Jobs/My very long job name",
       "/.../Jobs/My very long job name"},
      // "/.../" and 18 characters of the name, "...", its last 20.
      {"/Jobs/" + name, "/.../" + name.substr(0, 18) + "..." + name.substr(name.size() - 20)},
      // No folder to drop: the first 21 characters, "...", the last 22.
      {"/" + name, "/" + name.substr(0, 20) + "..." + name.substr(name.size() - 22)},
  };
  for (const auto& c : cases) {
    const std::string shown = wizard::ShortenShownPath(c.path);
    EXPECT_EQ(shown, c.shown);
    EXPECT_LE(shown.size(), 46u);
  }
}

TEST(SourceRules, TitleFileNames) {
  EXPECT_EQ(wizard::TitleSetFileName(3, 1, "VOB"), "VTS_03_1.VOB");
  const auto parsed = wizard::ParseTitleSetFileName("vts_12_0.ifo", "IFO");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->title_set, 12);
  EXPECT_EQ(parsed->part, 0);
  for (const char* bad : {"VTS_ab_0.IFO", "VTS_01_0.IFOX", "VTS_01_.IFO", "XTS_01_0.IFO"})
    EXPECT_FALSE(wizard::ParseTitleSetFileName(bad, "IFO")) << bad;
}

// The checks of Next over folders made for each case.
class AcceptSource : public ::testing::Test {
 protected:
  AcceptSource() {
    kv_test::MakeFolders(dir_.File("jobs"));
    kv_test::MakeFolders(dir_.File("dvd"));
  }
  // A DVD folder file with some bytes.
  void Put(const std::string& relative, const std::string& bytes = "data") {
    kv_test::WriteFile(dir_.File(relative), bytes);
  }
  std::optional<std::string> Accept(const std::string& source, const std::string& name = "Job") {
    fields_.name = name;
    fields_.location = dir_.File("jobs");
    fields_.source = source;
    fields_.job_folder = dir_.File("jobs/" + name);
    return wizard::AcceptSourceFields(fields_, state_);
  }
  kv_test::TempDir dir_{"kv-source-rules"};
  wizard::SourceFields fields_;
  wizard::WizardState state_;
};

TEST_F(AcceptSource, RefusesWhatCannotBecomeAJob) {
  Put("jobs/Taken/x");
  Put("jobs/AFile");
  Put("dvd/noVob/VTS_01_0.IFO");
  Put("dvd/emptyInfo/VTS_01_0.IFO", "");
  Put("dvd/emptyInfo/VTS_01_0.BUP", "");
  Put("dvd/emptyInfo/VTS_01_1.VOB");
  Put("dvd/emptyVob/VTS_01_0.IFO");
  Put("dvd/emptyVob/VTS_01_1.VOB", "");
  const struct {
    std::string source, name, location, error;
  } cases[] = {
      {dir_.File("dvd/noVob"), "Job", dir_.File("nowhere"), "The destination location is invalid!"},
      {dir_.File("dvd/noVob"), "Taken", "",
       "Job already exists. Change the name or the destination folder!"},
      {dir_.File("dvd/noVob"), "AFile", "",
       "Job already exists. Change the name or the destination folder!"},
      {dir_.File("dvd/missing"), "Job", "", "The specified DVD source path does not exist!"},
      {dir_.File("dvd/noVob"), "Job", "",
       "Unable to find a valid DVD title at the specified location!"},
      {dir_.File("dvd/emptyInfo"), "Job", "",
       "Unable to find a valid DVD title at the specified location!"},
      {dir_.File("dvd/emptyVob"), "Job", "",
       "Unable to find a valid DVD title at the specified location!"},
  };
  for (const auto& c : cases) {
    fields_.name = c.name;
    fields_.location = c.location.empty() ? dir_.File("jobs") : c.location;
    fields_.source = c.source;
    fields_.job_folder = fields_.location + "/" + c.name;
    EXPECT_EQ(wizard::AcceptSourceFields(fields_, state_).value_or("<accepted>"), c.error)
        << c.source << " " << c.name;
  }
  EXPECT_TRUE(state_.JobName.empty());
}

TEST_F(AcceptSource, FindsTheTitleFilesAndSetsTheJobFolders) {
  // A VIDEO_TS sub-folder with lower-case names, and a folder holding the
  // files itself whose first title set has no VOB but whose second has.
  Put("dvd/disc/video_ts/vts_01_0.ifo");
  Put("dvd/disc/video_ts/vts_01_1.vob");
  Put("dvd/flat/VTS_01_0.IFO");
  Put("dvd/flat/VTS_02_0.IFO");
  Put("dvd/flat/VTS_02_1.VOB");
  ASSERT_FALSE(Accept(dir_.File("dvd/disc/")));
  EXPECT_EQ(state_.JobName, "Job");
  EXPECT_EQ(state_.JobFolder, dir_.File("jobs/Job"));
  EXPECT_EQ(state_.JobDataFolder, dir_.File("jobs/Job/.kvnj/"));
  EXPECT_EQ(state_.PreviewScriptPath, dir_.File("jobs/Job/.kvnj/preview.avs"));
  EXPECT_EQ(state_.SourcePath, dir_.File("dvd/disc"));
  EXPECT_EQ(state_.DvdFolder, dir_.File("dvd/disc/video_ts/"));
  EXPECT_TRUE(state_.UsesVideoTsSubfolder);

  ASSERT_FALSE(Accept(dir_.File("dvd/flat")));
  EXPECT_EQ(state_.DvdFolder, dir_.File("dvd/flat/"));
  EXPECT_FALSE(state_.UsesVideoTsSubfolder);

  // An empty first information file leaves the other title sets usable, as
  // the analysis skips only that title set; an empty IFO with its backup
  // intact is usable itself.
  Put("dvd/emptyFirst/VTS_01_0.IFO", "");
  Put("dvd/emptyFirst/VTS_01_1.VOB");
  Put("dvd/emptyFirst/VTS_02_0.IFO");
  Put("dvd/emptyFirst/VTS_02_1.VOB");
  Put("dvd/backup/VTS_01_0.IFO", "");
  Put("dvd/backup/VTS_01_0.BUP", "backup");
  Put("dvd/backup/VTS_01_1.VOB");
  EXPECT_FALSE(Accept(dir_.File("dvd/emptyFirst")));
  EXPECT_FALSE(Accept(dir_.File("dvd/backup")));
  EXPECT_EQ(wizard::TitleSetInformationPath(dir_.File("dvd/backup"), 1),
            dir_.File("dvd/backup/VTS_01_0.BUP"));
  EXPECT_EQ(wizard::TitleSetInformationPath(dir_.File("dvd/flat"), 2),
            dir_.File("dvd/flat/VTS_02_0.IFO"));
}

}  // namespace
