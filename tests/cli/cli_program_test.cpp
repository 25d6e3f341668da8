// kestrevane-cli run as a child process over the sample discs, in the private
// data, runtime and registry locations every test process gets. What it
// writes is read back with the program's own job store and checked against
// libdvdread (lsdvd) and FFmpeg (ffprobe).
#include <gtest/gtest.h>
#include <signal.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "platform/folders.h"
#include "platform/registry_access.h"
#include "platform/registry_store.h"
#include "platform/single_instance.h"
#include "queue/job_store.h"
#include "tests/queue/queued_jobs.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/analysed_disc.h"

namespace {

namespace fs = std::filesystem;

const QString kCli = QStringLiteral(KV_PROGRAM_FOLDER "/kestrevane-cli");

struct CliRun {
  int status = -1;
  std::string out, err;
};

// Runs the program to its end; `meanwhile` may act on it while it runs.
CliRun RunCli(const std::vector<std::string>& arguments,
              const std::function<void(QProcess&)>& meanwhile = nullptr) {
  QStringList list;
  for (const std::string& a : arguments) list << QString::fromStdString(a);
  QProcess process;
  process.start(kCli, list);
  CliRun run;
  if (!process.waitForStarted()) return run;
  if (meanwhile) meanwhile(process);
  if (!process.waitForFinished(-1)) {
    process.kill();
    process.waitForFinished();
    return run;
  }
  run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = process.readAllStandardOutput().toStdString();
  run.err = process.readAllStandardError().toStdString();
  return run;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<queue::JobEntry> QueueRows() {
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  if (!store) return {};
  platform::RegistryAccess registry(*store, platform::RegistryRoot::LocalMachine);
  queue::JobStore jobs(registry);
  jobs.LoadJobList();
  return jobs.Jobs();
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

class CliProgram : public ::testing::Test {
 protected:
  void TearDown() override { ForgetJobs(); }

  // Empties the queue and the destination folder.
  void ForgetJobs() {
    for (const std::string& name : Entries(dest_.Path())) kv_test::RemoveTree(dest_.File(name));
    kv_test::ForgetQueuedJobs();
  }

  std::vector<std::string> New(const std::string& name, const std::string& disc,
                               std::vector<std::string> options = {}) const {
    std::vector<std::string> a = {"new",
                                  "--name",
                                  name,
                                  "--dest",
                                  dest_.Path(),
                                  "--dvd",
                                  kv_test::SampleDvdRoot() + "/" + disc};
    a.insert(a.end(), options.begin(), options.end());
    return a;
  }

  kv_test::TempDir dest_{"kv-cli-jobs"};
};

TEST_F(CliProgram, BadArgumentsAreRefusedByNameAndNothingIsWritten) {
  const std::string letterbox = kv_test::SampleDvdRoot() + "/pal_letterbox";
  struct Case {
    std::vector<std::string> arguments;
    std::string named;
  };
  const std::vector<Case> cases = {
      {{"frobnicate"}, "frobnicate"},
      {{"scan"}, "DVD_FOLDER"},
      {New("A", "pal_letterbox", {"--size", "0"}), "--size"},
      {New("A", "pal_letterbox", {"--quality", "101"}), "--quality"},
      {New("A", "pal_letterbox", {"--ivtc", "simple", "--deinterlace"}), "--deinterlace"},
      {New("A", "pal_letterbox", {"--width", "5000"}), "--width"},
      {New("a/b", "pal_letterbox"), "--name"},
      // Checked against the disc before any analysis.
      {New("A", "pal_letterbox", {"--title", "9:1"}), "--title"},
      // Checked against the analysed title: the job folder goes again.
      {New("A", "pal_letterbox", {"--audio", "7"}), "--audio"},
      {{"encode", "--priority", "warp", "--all"}, "--priority"},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCli(c.arguments);
    SCOPED_TRACE(c.arguments[0] + " ... " + c.arguments.back());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(Entries(dest_.Path()).empty());
    EXPECT_TRUE(QueueRows().empty());
    ForgetJobs();
  }
}

TEST_F(CliProgram, DiscsItCannotUseGetTheWizardsMessages) {
  struct Case {
    std::string dvd, message;
  };
  kv_test::TempDir discs("kv-cli-discs");
  const std::string not_an_ifo = kv_test::CopySampleDisc("ntsc_film", discs.File("film"));
  kv_test::WriteFile(not_an_ifo + "/VTS_01_0.IFO", std::string(4096, 'x'));
  const std::vector<Case> cases = {
      {dest_.File("nowhere"), "The specified DVD source path does not exist!"},
      {dest_.Path(), "Unable to find a valid DVD title at the specified location!"},
      {not_an_ifo, "Unable to find a valid title set! The DVD is probably damaged or encrypted!"},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCli({"new", "--name", "Job", "--dest", dest_.Path(), "--dvd", c.dvd});
    EXPECT_EQ(run.status, 1) << c.dvd;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(Entries(dest_.Path()).empty()) << c.dvd;
    EXPECT_TRUE(QueueRows().empty());
  }
}

TEST_F(CliProgram, ScanListsTheTitlesLibdvdreadFinds) {
  const std::string disc = kv_test::SampleDvdRoot() + "/ntsc_multi";
  const CliRun run = RunCli({"scan", "--json", disc});
  ASSERT_EQ(run.status, 0) << run.err;
  const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(run.out));
  ASSERT_TRUE(json.isObject()) << run.out;
  EXPECT_EQ(json["formatVersion"].toInt(), 1);

  struct Title {
    int vts = 0, seconds = 0, audio = 0, subtitles = 0;
    bool operator==(const Title&) const = default;
  };
  std::vector<Title> ours;
  for (const QJsonValue set : json["titleSets"].toArray()) {
    for (const QJsonValue pgc : set["programChains"].toArray()) {
      const QStringList hms = pgc["playingTime"].toString().split(':');
      ours.push_back({set["number"].toInt(),
                      hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt(),
                      static_cast<int>(pgc["audio"].toArray().size()),
                      static_cast<int>(pgc["subtitles"].toArray().size())});
    }
  }
  std::vector<Title> theirs;
  const std::string listing = Shell("lsdvd -x " + Quoted(disc));
  static const std::regex title_line(
      R"(Title: \d+, Length: (\d+):(\d+):(\d+)\.\d+ Chapters: \d+, Cells: \d+, Audio streams: (\d+), Subpictures: (\d+))");
  static const std::regex vts_line(R"(VTS: (\d+), TTN)");
  std::smatch m;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, m, title_line)) {
      theirs.push_back({0, std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stoi(m[3]),
                        std::stoi(m[4]), std::stoi(m[5])});
    } else if (!theirs.empty() && std::regex_search(line, m, vts_line)) {
      theirs.back().vts = std::stoi(m[1]);
    }
  }
  ASSERT_FALSE(theirs.empty()) << "lsdvd listed nothing";
  EXPECT_EQ(ours, theirs);
  // The scan's analysis leaves nothing behind and queues nothing.
  EXPECT_TRUE(QueueRows().empty());
}

// From a shell: new with a size, list, encode to playable volumes of that
// size, list again; the frameserver's temporary installation goes at exit.
TEST_F(CliProgram, NewListAndEncodeMakePlayableVolumes) {
  const CliRun made = RunCli(New("Letterbox", "pal_letterbox", {"--size", "1x2"}));
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string job = dest_.File("Letterbox");
  ASSERT_EQ(QueueRows().size(), 1u);
  EXPECT_EQ(QueueRows()[0].Path, job);

  const CliRun listed = RunCli({"list", "--json"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  const QJsonDocument list = QJsonDocument::fromJson(QByteArray::fromStdString(listed.out));
  EXPECT_EQ(list["formatVersion"].toInt(), 1);
  const QJsonArray rows = list["jobs"].toArray();
  ASSERT_EQ(rows.size(), 1);
  EXPECT_EQ(rows[0]["state"].toString(), "pending");
  // Nothing went wrong yet: no reason is given.
  EXPECT_TRUE(rows[0].toObject().contains("problem"));
  EXPECT_TRUE(rows[0]["problem"].isNull());

  const CliRun encoded = RunCli({"encode", "Letterbox"});
  ASSERT_EQ(encoded.status, 0) << encoded.err << encoded.out;
  EXPECT_EQ(QueueRows()[0].State, queue::JobState::Done);

  const std::vector<std::string> expected = {"Letterbox (1of2).rmvb", "Letterbox (2of2).rmvb"};
  std::vector<std::string> files = Entries(job);
  EXPECT_EQ(files, expected);
  double seconds = 0;
  for (const char* name : {"Letterbox (1of2).rmvb", "Letterbox (2of2).rmvb"}) {
    const std::string path = job + "/" + name;
    EXPECT_LE(fs::file_size(path), 1024u * 1024u) << name;
    seconds += std::stod(
        Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(path)));
  }
  EXPECT_NEAR(seconds, 12.0, 0.2);
  EXPECT_FALSE(fs::exists(platform::SystemFolder() + "/avisynth.dll"));
}

// A DVD folder may be named as Linux allows: with a "|", blanks and letters
// beyond ASCII, at the end of a path of 200 characters. new analyses it and
// encode makes the whole title of it.
TEST_F(CliProgram, DiscInAFolderNamedWithABarBlanksAndAccentsAtTwoHundredCharacters) {
  kv_test::TempDir discs{"kv-cli-discs"};
  std::string source = discs.File("dvd|copy \xC3\xA9t\xC3\xA9 \xD0\xB4\xD0\xB8\xD1\x81\xD0\xBA");
  source += "/" + std::string(200 - source.size() - 1, 'x');
  ASSERT_EQ(source.size(), 200u);
  kv_test::CopySampleDisc("pal_letterbox", source);
  const CliRun made = RunCli(
      {"new", "--name", "Special", "--dest", dest_.Path(), "--dvd", source, "--size", "2x1"});
  ASSERT_EQ(made.status, 0) << made.err << made.out;
  ASSERT_EQ(QueueRows().size(), 1u);
  const CliRun encoded = RunCli({"encode", "Special"});
  ASSERT_EQ(encoded.status, 0) << encoded.err << encoded.out;
  EXPECT_EQ(QueueRows()[0].State, queue::JobState::Done);
  const std::string volume = dest_.File("Special/Special.rmvb");
  ASSERT_TRUE(fs::exists(volume)) << ::testing::PrintToString(Entries(dest_.File("Special")));
  EXPECT_NEAR(std::stod(Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                              Quoted(volume))),
              12.0, 0.2);
}

// An average bit rate keeps the proposed roll-over unless --split says
// otherwise, and "new" says when the files roll over: at the proposed size,
// at the size given (the encoder then writes Name.rmvb, Name_2.rmvb, ...),
// or never.
TEST_F(CliProgram, SplitSetsWhereTheEncoderStartsItsNextFile) {
  auto roll_size = [this](const std::string& name) {
    const std::string job = kv_test::ReadFile(dest_.File(name + "/.kvnj/out01.rpjf"));
    std::smatch m;
    if (!std::regex_search(job, m, std::regex("<destinationRollSize[^>]*>([0-9]+)<"))) return -1;
    return std::stoi(m[1]);
  };
  const CliRun proposed = RunCli(New("Proposed", "pal_letterbox", {"--bitrate", "2500"}));
  ASSERT_EQ(proposed.status, 0) << proposed.err;
  const int proposed_size = roll_size("Proposed");
  EXPECT_GT(proposed_size, 0);
  EXPECT_NE(proposed.out.find("a new file every " + std::to_string(proposed_size) + " MB"),
            std::string::npos)
      << proposed.out;

  const CliRun one = RunCli(New("One", "pal_letterbox", {"--bitrate", "2500", "--split", "off"}));
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(roll_size("One"), 0);
  EXPECT_EQ(one.out.find("a new file every"), std::string::npos) << one.out;

  const CliRun small = RunCli(New("Small", "pal_letterbox", {"--bitrate", "2500", "--split", "1"}));
  ASSERT_EQ(small.status, 0) << small.err;
  EXPECT_EQ(roll_size("Small"), 1);
  EXPECT_NE(small.out.find("a new file every 1 MB: Small.rmvb, Small_2.rmvb"), std::string::npos)
      << small.out;
  const CliRun encoded = RunCli({"encode", "Small"});
  ASSERT_EQ(encoded.status, 0) << encoded.err << encoded.out;
  const std::vector<std::string> files = Entries(dest_.File("Small"));
  ASSERT_GE(files.size(), 2u);
  EXPECT_EQ(files[0], "Small.rmvb");
  EXPECT_EQ(files[1], "Small_2.rmvb");
  double seconds = 0;
  for (const std::string& name : files) {
    const std::string path = dest_.File("Small/" + name);
    seconds += std::stod(
        Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(path)));
  }
  EXPECT_NEAR(seconds, 12.0, 0.3);
}

TEST_F(CliProgram, CtrlCAbortsTheEncodeAndLeavesTheJobResumable) {
  ASSERT_EQ(RunCli(New("Long", "pal_long", {"--size", "2x1"})).status, 0);
  const CliRun run = RunCli({"encode", "--all"}, [](QProcess& process) {
    // Interrupted once the encoder reports progress.
    while (process.waitForReadyRead(-1)) {
      if (process.peek(1 << 16).contains("%")) break;
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
  });
  EXPECT_NE(run.status, 0);
  const std::vector<queue::JobEntry> rows = QueueRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].State, queue::JobState::Pending);
  EXPECT_TRUE(fs::exists(dest_.File("Long/.kvnj/out01.rpjf")));
  EXPECT_FALSE(fs::exists(dest_.File("Long/Long.rmvb")));
  // The encoder wrote its process id: that process is gone.
  const std::string pid = kv_test::ReadFile(dest_.File("Long/.kvnj/pid"));
  ASSERT_FALSE(pid.empty());
  EXPECT_NE(::kill(static_cast<pid_t>(std::stoi(pid)), 0), 0);
  EXPECT_FALSE(fs::exists(platform::SystemFolder() + "/avisynth.dll"));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// One job per program chain of the disc, each of its own title, the disc
// analysed by the first job only: the second imports the first's analysis.
TEST_F(CliProgram, SeveralTitlesMakeOneJobEachOnOneAnalysis) {
  const CliRun made = RunCli(New("Series", "pal_letterbox", {"--titles", "all", "--size", "1"}));
  ASSERT_EQ(made.status, 0) << made.err << made.out;
  const std::vector<queue::JobEntry> rows = QueueRows();
  ASSERT_EQ(rows.size(), 2u);
  const std::string first = "Series - VTS_01 PGC 01", second = "Series - VTS_01 PGC 02";
  EXPECT_EQ(rows[0].Name, first);
  EXPECT_EQ(rows[1].Name, second);
  EXPECT_EQ(Count(made.out, "import the analysis data from a pending job? [yes]"), 1u) << made.out;
  const size_t second_job = made.out.find("Job " + first + " is in the queue");
  ASSERT_NE(second_job, std::string::npos) << made.out;
  EXPECT_EQ(made.out.find("Analyzing", second_job), std::string::npos) << made.out;
  EXPECT_NE(made.out.find("Importing VTS_01", second_job), std::string::npos) << made.out;
  // Each job prepared its own program chain.
  EXPECT_TRUE(fs::exists(dest_.File(first + "/.kvnj/vts01_pgc01_a0.qmvi")));
  EXPECT_TRUE(fs::exists(dest_.File(second + "/.kvnj/vts01_pgc02_a0.qmvi")));
  EXPECT_FALSE(fs::exists(dest_.File(second + "/.kvnj/vts01_pgc01_a0.qmvi")));
}

// remove, add and move do what Remove Job, Add Job, Up and Down do, with the
// same refusals and messages; the list is read back after each step.
TEST_F(CliProgram, RemoveAddAndMoveAsTheQueueWindowDoes) {
  ASSERT_EQ(RunCli(New("Series", "pal_letterbox", {"--titles", "all"})).status, 0);
  const CliRun extra = RunCli(New("Extra {vts}-{pgc}", "pal_letterbox", {"--title", "1:2"}));
  ASSERT_EQ(extra.status, 0) << extra.err;
  const std::string a = "Series - VTS_01 PGC 01", b = "Series - VTS_01 PGC 02", c = "Extra 01-02";
  auto order = [] { return Lines(RunCli({"list", "--names"}).out); };
  ASSERT_EQ(order(), (std::vector<std::string>{a, b, c}));

  struct Step {
    std::vector<std::string> arguments;
    int status;
    std::vector<std::string> order;
    std::string message;
  };
  const Step steps[] = {
      {{"move", c, "first"}, 0, {c, a, b}, "'Extra 01-02' is number 1 of 3 in the queue."},
      {{"move", "1", "up"}, 1, {c, a, b}, "'Extra 01-02' is first in the queue"},
      {{"move", "3", "down"}, 1, {c, a, b}, "'Series - VTS_01 PGC 02' is last in the queue"},
      {{"move", b, "last"}, 1, {c, a, b}, "is last in the queue"},
      {{"move", a, "down"}, 0, {c, b, a}, "is number 3 of 3"},
      {{"move", dest_.File(c), "last"}, 0, {b, a, c}, "is number 3 of 3"},
      {{"move", "2", "up"}, 0, {a, b, c}, "is number 1 of 3"},
      {{"move", "Nobody", "up"}, 2, {a, b, c}, "JOB: no job 'Nobody' in the queue"},
      {{"remove", a}, 0, {b, c}, "Do you really want remove this job from the queue? [yes]"},
      {{"add", dest_.File(a) + "/"}, 0, {b, c, a}, "is in the queue as number 3"},
      {{"add", dest_.File(a)}, 0, {b, c, a}, "Job is already added to the list."},
      {{"add", dest_.Path()}, 1, {b, c, a}, "The selected folder does not contain a valid job!"},
      {{"remove", "4"}, 2, {b, c, a}, "JOB: no job '4' in the queue"},
  };
  for (const Step& step : steps) {
    const CliRun run = RunCli(step.arguments);
    SCOPED_TRACE(step.arguments[0] + " " + step.arguments[1]);
    EXPECT_EQ(run.status, step.status) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(step.message), std::string::npos) << run.out << run.err;
    EXPECT_EQ(order(), step.order);
    // The job's folder stays where it was whatever happens to its row.
    EXPECT_TRUE(fs::exists(dest_.File(a + "/.kvnj")));
  }

  // While the program runs the list is shown but not changed.
  auto lock = platform::SingleInstanceLock::Acquire(app::kSingleInstanceName).lock;
  ASSERT_TRUE(lock);
  for (const std::vector<std::string>& edit :
       {std::vector<std::string>{"remove", b}, {"move", a, "first"}, {"add", dest_.File(b)}}) {
    const CliRun refused = RunCli(edit);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Kestrevane is running"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(order(), (std::vector<std::string>{b, c, a}));
}

TEST_F(CliProgram, ARunningProgramIsNamedAndNothingChanges) {
  auto lock = platform::SingleInstanceLock::Acquire(app::kSingleInstanceName).lock;
  ASSERT_TRUE(lock);
  const CliRun run = RunCli(New("Job", "pal_letterbox"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Kestrevane is running"), std::string::npos) << run.err;
  EXPECT_TRUE(Entries(dest_.Path()).empty());
}

}  // namespace
