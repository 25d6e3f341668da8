// Which pending job lends its analysis, and that a crafted analysis log can
// neither read nor write outside the two job folders; the analysis worker
// runs on the test's thread with the real library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/file_system.h"
#include "queue/job_entry.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/analysis_events_recorder.h"
#include "wizard/analysis_worker.h"

namespace {

namespace fs = std::filesystem;
using queue::JobState;

class AnalysisImport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // One pending job of ntsc_multi, analysed once for all cases.
    pending_dir_ = new kv_test::TempDir("kv-analysis-import");
    kv_test::AnalysisEventsRecorder events;
    ASSERT_TRUE(Analyse(Pending(), events).ends == std::vector<bool>{true});
  }
  static void TearDownTestSuite() {
    delete pending_dir_;
    pending_dir_ = nullptr;
  }
  static std::string Pending() { return pending_dir_->File("Pending"); }
  static std::string Disc() { return kv_test::SampleVideoTs("ntsc_multi") + "/"; }

  // Runs the analysis of a new job in `job_folder` with the queue `rows`.
  static kv_test::AnalysisEventsRecorder& Analyse(const std::string& job_folder,
                                                  kv_test::AnalysisEventsRecorder& events,
                                                  std::vector<queue::JobEntry> rows = {},
                                                  wizard::AnalysisControl* stop = nullptr,
                                                  const std::string& dvd_folder = Disc()) {
    wizard::AnalysisSetup setup;
    setup.JobFolder = job_folder;
    setup.JobDataFolder = job_folder + "/.kvnj/";
    setup.DvdFolder = dvd_folder;
    setup.Queue = std::move(rows);
    wizard::TitleSetTable table;
    wizard::AnalysisControl own;
    wizard::AnalysisControl& control = stop ? *stop : own;
    // A normal analysis is not needed to tell what was offered.
    if (!events.on_log)
      events.on_log = [&](const std::string& line) {
        if (line.rfind("Analyzing", 0) == 0 && fs::exists(Pending() + "/.kvnj/.idxlog"))
          control.RequestStop();
      };
    wizard::AnalysisWorker(std::move(setup), table, control, events).Execute();
    return events;
  }

  static queue::JobEntry Row(const std::string& path, JobState state = JobState::Pending) {
    queue::JobEntry row;
    row.Path = path;
    row.State = state;
    return row;
  }

  // A copy of the pending job, its log edited by `edit`.
  std::string CopyOfPending(const std::string& name,
                            const std::function<void(std::string&)>& edit = nullptr) {
    const std::string folder = dir_.File(name);
    fs::copy(Pending(), folder, fs::copy_options::recursive);
    const std::string log = folder + "/.kvnj/.idxlog";
    std::string text = kv_test::ReadFile(log);
    if (edit) edit(text);
    kv_test::WriteFile(log, text);
    return folder;
  }

  static kv_test::TempDir* pending_dir_;
  kv_test::TempDir dir_{"kv-analysis-import-case"};
};

kv_test::TempDir* AnalysisImport::pending_dir_ = nullptr;

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

TEST_F(AnalysisImport, OnlyAMatchingPendingJobWithSafeNamesIsOffered) {
  kv_test::WriteFile(dir_.File("Outside/secret"), "secret");
  const std::string outside = dir_.File("Outside/secret");
  const struct {
    const char* name;
    JobState state;
    std::function<void(std::string&)> edit;
    std::function<void(const std::string& folder)> after;
    bool offered;
  } cases[] = {
      {"Same", JobState::Pending, nullptr, nullptr, true},
      {"Done", JobState::Done, nullptr, nullptr, false},
      {"Running", JobState::Running, nullptr, nullptr, false},
      {"Broken", JobState::Broken, nullptr, nullptr, false},
      {"OtherDisc", JobState::Pending,
       [](std::string& t) { Replace(t, Disc(), kv_test::SampleVideoTs("ntsc_film") + "/"); },
       nullptr, false},
      {"OtherChecksum", JobState::Pending,
       [](std::string& t) { t[t.find("\r\n\r\n> VTS") - 1] ^= 1; }, nullptr, false},
      {"Deleted", JobState::Pending, nullptr,
       [](const std::string& f) { fs::remove(f + "/.kvnj/vts01.qmci"); }, false},
      {"UpwardsName", JobState::Pending,
       [](std::string& t) { Replace(t, "vts01.qmci", "../../Outside/secret"); }, nullptr, false},
      {"AbsoluteName", JobState::Pending,
       [&](std::string& t) { Replace(t, "vts01.qmci", outside); }, nullptr, false},
      {"FolderName", JobState::Pending,
       [](std::string& t) { Replace(t, "vts01.qmci", "sub/vts01.qmci"); },
       [](const std::string& f) { kv_test::WriteFile(f + "/.kvnj/sub/vts01.qmci", "x"); }, false},
      {"DotName", JobState::Pending, [](std::string& t) { Replace(t, "vts01.qmci", "."); }, nullptr,
       false},
      {"LinkName", JobState::Pending, nullptr,
       [&](const std::string& f) {
         fs::remove(f + "/.kvnj/vts01.qmci");
         fs::create_symlink(outside, f + "/.kvnj/vts01.qmci");
       },
       false},
      {"BadTitleSetLine", JobState::Pending,
       [](std::string& t) { Replace(t, "> VTS_02", "> VTS_02/../x"); }, nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string pending = CopyOfPending(std::string("pending-") + c.name, c.edit);
    if (c.after) c.after(pending);
    kv_test::AnalysisEventsRecorder events;
    Analyse(dir_.File(std::string("new-") + c.name), events, {Row(pending, c.state)});
    EXPECT_EQ(events.import_questions, c.offered ? 1 : 0);
    EXPECT_EQ(kv_test::ReadFile(outside), "secret");
  }
  // Nothing was made or changed beside the job folders.
  EXPECT_EQ(platform::FindFiles(dir_.File("Outside"), "*.*", platform::SearchKind::Both),
            std::vector<std::string>{"secret"});
}

// The pending job's DVD folder is the new job's when both resolve to the
// same real folder; a folder whose name differs only in case holds another
// disc, even one with the same files.
TEST_F(AnalysisImport, TheSameFolderIsTheSameDiscAFolderOfAnotherCaseIsNot) {
  fs::create_directory_symlink(fs::path(Disc()).parent_path(), dir_.File("link"));
  const std::string linked = CopyOfPending(
      "pending-linked", [&](std::string& t) { Replace(t, Disc(), dir_.File("link") + "/"); });
  kv_test::AnalysisEventsRecorder through_link;
  Analyse(dir_.File("new-linked"), through_link, {Row(linked)});
  EXPECT_EQ(through_link.import_questions, 1);

  for (const char* copy : {"dvd", "DVD"}) fs::copy(Disc(), dir_.File(copy));
  const std::string upper = CopyOfPending(
      "pending-upper", [&](std::string& t) { Replace(t, Disc(), dir_.File("DVD") + "/"); });
  const struct {
    const char* folder;
    int offered;
  } cases[] = {{"dvd", 0}, {"DVD", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    kv_test::AnalysisEventsRecorder events;
    Analyse(dir_.File(std::string("new-") + c.folder + "-job"), events, {Row(upper)}, nullptr,
            dir_.File(c.folder) + "/");
    EXPECT_EQ(events.import_questions, c.offered);
  }
}

TEST_F(AnalysisImport, OfTwoMatchingJobsOnlyTheFirstIsAskedAbout) {
  const std::string done = CopyOfPending("done");
  const std::string first = CopyOfPending("first");
  const std::string second = CopyOfPending("second");
  kv_test::AnalysisEventsRecorder events;
  Analyse(dir_.File("new"), events, {Row(done, JobState::Done), Row(first), Row(second)});
  EXPECT_EQ(events.import_questions, 1);
  // Answered No: the disc is analysed.
  ASSERT_GE(events.logs.size(), 2u);
  EXPECT_EQ(events.logs[1], "Analyzing VTS_01");
}

// A file that goes between the question and its copy, or a title set file
// that is not one, ends the import with its error; the new job's folder goes.
TEST_F(AnalysisImport, FailuresDuringTheImportEndIt) {
  const struct {
    const char* name;
    std::function<void(const std::string& data_folder)> damage;
  } cases[] = {
      {"FileGone", [](const std::string& d) { fs::remove(d + "vts02.d2v"); }},
      {"InfoDamaged",
       [](const std::string& d) { kv_test::WriteFile(d + "vts02.idxinfo", "Tess"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string pending = CopyOfPending(c.name);
    const std::string job = dir_.File(std::string("new-") + c.name);
    kv_test::AnalysisEventsRecorder events;
    events.import_answer = true;
    events.on_ask = [&] { c.damage(pending + "/.kvnj/"); };
    Analyse(job, events, {Row(pending)});
    EXPECT_EQ(events.logs.back(), "Import error");
    EXPECT_EQ(events.kinds.back(), wizard::LogKind::Error);
    EXPECT_EQ(events.errors, std::vector<std::string>{
                                 "Unable to import analysis data! You should reanalyze the DVD!"});
    EXPECT_EQ(events.ends, std::vector<bool>{false});
    EXPECT_FALSE(fs::exists(job));
  }
}

// The user's abort during the import ends it quietly: no import error, no
// end reported (the abort reports), and the pending job as it was.
TEST_F(AnalysisImport, AnAbortDuringTheImportIsNoImportError) {
  const std::string pending = CopyOfPending("aborted");
  const std::string log = kv_test::ReadFile(pending + "/.kvnj/.idxlog");
  wizard::AnalysisControl control;
  kv_test::AnalysisEventsRecorder events;
  events.import_answer = true;
  events.on_log = [&](const std::string& line) {
    if (line == "Importing VTS_02") control.RequestStop();
  };
  Analyse(dir_.File("new-aborted"), events, {Row(pending)}, &control);
  EXPECT_EQ(events.logs.back(), "Importing VTS_02");
  EXPECT_TRUE(events.errors.empty());
  EXPECT_TRUE(events.ends.empty());
  EXPECT_EQ(kv_test::ReadFile(pending + "/.kvnj/.idxlog"), log);
  EXPECT_FALSE(fs::exists(dir_.File("new-aborted/.kvnj/.idxlog")));
}

}  // namespace
