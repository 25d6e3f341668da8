// The analysis's own files and rules: the ".idxinfo" and ".idxlog" formats,
// the progress and the estimate, the remaining-time label, and the pause of
// a real index run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/analysis_events_recorder.h"
#include "wizard/analysis_control.h"
#include "wizard/analysis_files.h"
#include "wizard/analysis_worker.h"
#include "wizard/remaining_time.h"
#include "wizard/source_rules.h"

namespace {

using Lines = std::vector<std::string>;

TEST(AnalysisFiles, TitleSetInfoIsTheHeadAndTheStatusBlock) {
  kv_test::TempDir dir;
  TessmarStatus status{};
  status.codedWidth = 720;
  status.aspectCode = 3;
  status.frameRate = 25.0f;
  status.audio[2].delayMs = -80;
  status.subpicturePresent[31] = 1;
  const std::string path = dir.File(wizard::TitleSetInfoName(7));
  EXPECT_EQ(wizard::TitleSetInfoName(7), "vts07.idxinfo");
  ASSERT_TRUE(wizard::WriteTitleSetInfo(path, status));
  const std::string bytes = kv_test::ReadFile(path);
  ASSERT_EQ(bytes.size(), 231u);
  EXPECT_EQ(bytes.substr(0, 11), "TessmarInfo");
  EXPECT_EQ(std::memcmp(bytes.data() + 11, &status, 220), 0);
  const auto back = wizard::ReadTitleSetInfo(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(std::memcmp(&*back, &status, 220), 0);

  // Short, of another head, missing.
  kv_test::WriteFile(dir.File("short"), bytes.substr(0, 230));
  kv_test::WriteFile(dir.File("head"), "TessmarInfX" + bytes.substr(11));
  for (const char* name : {"short", "head", "missing"})
    EXPECT_FALSE(wizard::ReadTitleSetInfo(dir.File(name))) << name;
}

TEST(AnalysisFiles, LogIsWrittenWithCrLfAndReadBackAgainstTheDisc) {
  kv_test::TempDir dir;
  const std::string disc = dir.File("Disc/VIDEO_TS/");
  kv_test::MakeFolders(disc);
  kv_test::MakeFolders(dir.File("disc/VIDEO_TS"));
  kv_test::MakeFolders(dir.File("Gone/VIDEO_TS"));
  std::filesystem::create_directory_symlink(dir.File("Disc"), dir.File("Link"));
  wizard::AnalysisLogWriter log;
  log.Head(disc, 0x0badf00d);
  log.TitleSet(1);
  log.File("vts01.d2v");
  log.TitleSet(12);
  log.File("vts12_st0.sub");
  const std::string expected = ".idxlog\r\n\r\n" + disc +
                               "\r\n0badf00d\r\n\r\n> VTS_01\r\nvts01.d2v\r\n"
                               "> VTS_12\r\nvts12_st0.sub\r\n";
  EXPECT_EQ(log.Text(), expected);

  const Lines rest = {"> VTS_01", "vts01.d2v", "> VTS_12", "vts12_st0.sub"};
  // The same folder however it is named: through a link, with "." or
  // without the trailing "/". Bare LF ends lines too.
  for (const char* same : {"Link/VIDEO_TS/", "Disc/./VIDEO_TS", "Disc/VIDEO_TS"})
    EXPECT_EQ(wizard::MatchAnalysisLog(expected, dir.File(same), 0x0badf00d), rest) << same;
  std::string lf = expected;
  for (size_t at; (at = lf.find('\r')) != std::string::npos;) lf.erase(at, 1);
  EXPECT_EQ(wizard::MatchAnalysisLog(lf + "\n\n", disc, 0x0badf00d), rest);

  std::string gone = expected;
  gone.replace(gone.find(disc), disc.size(), dir.File("Gone/VIDEO_TS/"));
  std::filesystem::remove_all(dir.File("Gone"));
  const struct {
    std::string text, folder;
    uint32_t checksum;
  } refused[] = {
      {expected, disc, 0x0badf00e},                         // another disc
      {expected, dir.File("disc/VIDEO_TS/"), 0x0badf00d},   // a folder differing in case only
      {expected, dir.File("Other/VIDEO_TS/"), 0x0badf00d},  // a folder that does not exist
      {gone, dir.File("Gone/VIDEO_TS/"), 0x0badf00d},       // the log's folder is gone
      {".idxlog\r\n\r\n" + disc + "\r\n0badf00d\r\n", disc, 0x0badf00d},  // ends after the head
      {"idxlog\r\n" + expected.substr(9), disc, 0x0badf00d},
      {expected + std::string(4096, 'x') + "\r\n", disc, 0x0badf00d},
  };
  for (const auto& r : refused)
    EXPECT_FALSE(wizard::MatchAnalysisLog(r.text, r.folder, r.checksum)) << r.folder;
}

TEST(AnalysisFiles, OnlyBareNamesAndTitleSetLinesPass) {
  for (const char* name : {"vts01.d2v", ".idxlog", "vts01_st0.sub", "a..b"})
    EXPECT_TRUE(wizard::IsBareFileName(name)) << name;
  for (const char* name : {"", ".", "..", "../x", "/etc/passwd", "sub/vts01.d2v", "..\\x"})
    EXPECT_FALSE(wizard::IsBareFileName(name)) << name;
  EXPECT_EQ(wizard::TitleSetOfLine("> VTS_07"), 7);
  for (const char* line : {"> VTS_00", "> VTS_100", ">VTS_01", "> VTS_1x", "> VTS_"})
    EXPECT_FALSE(wizard::TitleSetOfLine(line)) << line;
}

TEST(AnalysisRules, ProgressAndEstimate) {
  constexpr int64_t kGB = 1000000000;
  // Two title sets of 1 GB, the library at 50 % of the second.
  EXPECT_EQ(wizard::AnalysisProgress(50.7f, kGB, kGB, 2 * kGB), 75);
  EXPECT_EQ(wizard::AnalysisProgress(100.0f, kGB, 0, 2 * kGB), 50);
  EXPECT_EQ(wizard::AnalysisProgress(10.0f, 0, 0, 0), 0);
  EXPECT_EQ(wizard::RemainingEstimate(30, 25), 90);
  EXPECT_EQ(wizard::RemainingEstimate(7, 100), 0);
}

TEST(AnalysisRules, RemainingTimeShowsOnlySteadyEstimates) {
  wizard::RemainingTimeView view;
  const struct {
    int seconds;
    bool visible;
    const char* text;
  } steps[] = {{90, false, "? minutes"},   // 90 from 0: too far
               {125, false, "? minutes"},  // 35 from 90
               {110, true, "1 minute"},   {400, true, "6 minutes"}, {59, true, "59 seconds"},
               {1, true, "1 second"},     {0, false, "1 second"},   {40, false, "1 second"},
               {120, false, "1 second"},  {100, true, "1 minute"}};
  for (const auto& step : steps) {
    view.Update(step.seconds);
    EXPECT_EQ(view.Visible(), step.visible) << step.seconds;
    EXPECT_EQ(view.Text(), step.text) << step.seconds;
  }
}

// A pause suspends the library's worker (it parks) and holds the analysis
// worker at its checkpoint; resuming lets the run finish.
TEST(AnalysisRules, PauseParksTheLibraryAndTheWorker) {
  kv_test::TempDir dir;
  wizard::AnalysisControl control;
  // A title set made long with zeros, so that it still runs when paused.
  const std::string vob = dir.File("VTS_01_1.VOB");
  kv_test::WriteFile(vob, kv_test::ReadFile(kv_test::SampleVideoTs("ntsc_film") + "/VTS_01_1.VOB"));
  ASSERT_EQ(::truncate(vob.c_str(), int64_t{128} << 20), 0);
  ASSERT_EQ(control.StartIndexRun({vob}, dir.File("vts01")), 0);
  control.Pause();
  const bool still_running = control.LibraryRunning();
  if (still_running) {
    EXPECT_EQ(std::atomic_ref<uint8_t>(control.Status().suspended).load(), 1);
  }
  std::atomic<bool> passed{false};
  std::thread worker([&] { passed = control.Checkpoint(); });
  control.Resume();
  worker.join();
  EXPECT_TRUE(passed);
  EXPECT_EQ(std::atomic_ref<uint8_t>(control.Status().suspended).load(), 0);
  while (control.LibraryRunning()) control.Wait(std::chrono::milliseconds(5));
  EXPECT_EQ(std::atomic_ref<uint8_t>(control.Status().finished).load(), 1);
  EXPECT_TRUE(still_running) << "the run ended before it could be paused";

  // A stop wakes a paused worker and ends it.
  control.Pause();
  std::thread stopped([&] { passed = control.Checkpoint(); });
  control.RequestStop();
  stopped.join();
  EXPECT_FALSE(passed);
  EXPECT_EQ(control.StartIndexRun({vob}, dir.File("vts01")), -1);
}

// The worker's own failures: job folders that cannot be made, VOB files
// without bytes, a title set whose packets are scrambled or whose
// information file is empty (skipped, the others analysed). And what it
// takes: an empty IFO whose backup is intact, a "|" in the DVD folder's
// name, a job folder and a DVD folder as long as page 1 lets through.
TEST(AnalysisFailures, FatalRowsAndSkippedTitleSets) {
  namespace fs = std::filesystem;
  kv_test::TempDir dir;
  auto copy_of = [&](const std::string& disc, std::string folder = "") {
    if (folder.empty()) folder = dir.File("discs/" + disc);
    const std::string copy = folder + "/";
    fs::create_directories(copy);
    fs::copy(kv_test::SampleVideoTs(disc), copy, fs::copy_options::recursive);
    return copy;
  };
  // A folder path of `length` characters under `from`.
  auto long_path = [](std::string from, size_t length) {
    while (from.size() + 1 < length)
      from += "/" + std::string(std::min<size_t>(200, length - from.size() - 1), 'l');
    return from.size() < length ? from + "l" : from;
  };
  const std::string empty_ifo = copy_of("ntsc_multi", dir.File("discs/emptyIfo"));
  fs::resize_file(empty_ifo + "VTS_01_0.IFO", 0);
  const std::string empty_info = copy_of("ntsc_multi", dir.File("discs/emptyInfo"));
  fs::resize_file(empty_info + "VTS_01_0.IFO", 0);
  fs::resize_file(empty_info + "VTS_01_0.BUP", 0);
  const std::string barred = copy_of("ntsc_multi", dir.File("discs/a|b c"));
  const std::string long_dvd = copy_of("ntsc_multi", long_path(dir.File("discs/long"), 245));
  // The longest source page 1 takes: its VIDEO_TS folder's VOB files fill a
  // whole path.
  const size_t longest_source = wizard::kMaxPathLength - wizard::kLongestDvdFile - 1;
  const std::string longest_dvd =
      copy_of("ntsc_multi", long_path(dir.File("discs/longest"), longest_source) + "/VIDEO_TS");
  const std::string empty_vobs = copy_of("ntsc_film");
  for (const auto& entry : fs::directory_iterator(empty_vobs))
    if (entry.path().extension() == ".VOB") fs::resize_file(entry.path(), 0);
  const std::string scrambled = copy_of("ntsc_multi");
  {
    // The first video packet of title set 2 says it is scrambled.
    std::string vob = kv_test::ReadFile(scrambled + "VTS_02_1.VOB");
    const size_t video = vob.find(std::string("\0\0\1\xE0", 4));
    ASSERT_NE(video, std::string::npos);
    vob[video + 6] = static_cast<char>(vob[video + 6] | 0x30);
    kv_test::WriteFile(scrambled + "VTS_02_1.VOB", vob);
  }
  kv_test::WriteFile(dir.File("blocked"), "a file where a folder should be");
  const Lines both = {"Job created", "Analyzing VTS_01", "Analyzing VTS_02"};
  const struct {
    std::string job, dvd;
    Lines logs, errors;
    bool success;
    std::vector<int> analysed;
  } cases[] = {
      {dir.File("blocked/Job"),
       kv_test::SampleVideoTs("ntsc_film") + "/",
       {"Job creation failed"},
       {"Error creating new job!"},
       false,
       {}},
      {dir.File("empty/Job"),
       empty_vobs,
       {"Job created", "Invalid source"},
       {"Invalid DVD source!"},
       false,
       {}},
      {dir.File("scrambled/Job"),
       scrambled,
       {"Job created", "Analyzing VTS_01", "Analyzing VTS_02", "VTS_02 is CSS encrypted"},
       {},
       true,
       {1}},
      {dir.File("emptyIfo/Job"), empty_ifo, both, {}, true, {1, 2}},
      {dir.File("emptyInfo/Job"),
       empty_info,
       {"Job created", "VTS_01 is invalid", "Analyzing VTS_02"},
       {},
       true,
       {2}},
      {dir.File("barred/Job"), barred, both, {}, true, {1, 2}},
      {long_path(dir.File("long"), 250), long_dvd, both, {}, true, {1, 2}},
      {long_path(dir.File("longest"), 4000), longest_dvd, both, {}, true, {1, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.job);
    wizard::AnalysisSetup setup;
    setup.JobFolder = c.job;
    setup.JobDataFolder = c.job + "/.kvnj/";
    setup.DvdFolder = c.dvd;
    wizard::TitleSetTable table;
    wizard::AnalysisControl control;
    kv_test::AnalysisEventsRecorder events;
    wizard::AnalysisWorker(setup, table, control, events).Execute();
    EXPECT_EQ(events.logs, c.logs);
    EXPECT_EQ(events.errors, c.errors);
    EXPECT_EQ(events.ends, std::vector<bool>{c.success});
    EXPECT_EQ(fs::exists(c.job), c.success);
    for (int n : {1, 2}) {
      const bool analysed = std::count(c.analysed.begin(), c.analysed.end(), n) > 0;
      EXPECT_EQ(table[n].PgcCount > 0, analysed) << n;
    }
  }
}

}  // namespace
