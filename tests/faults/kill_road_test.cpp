// One two-volume job killed again and again along its road: the program
// (kestrevane-cli), the encoder it runs, and the frameserver inside the
// encoder, at moments the job's own progress gives (its progress lines, the
// files it opens and writes), the progress moments drawn at random. After
// every kill the folder and the queue are checked and the job is started
// again; at the end it is complete, every volume byte for byte what an
// encode without a fault makes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <set>

#include "tests/faults/fault_road.h"
#include "tests/queue/queued_jobs.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using kv_test::CliChild;

enum class Target { Program, Encoder };

struct Moment {
  int volume;
  enum Kind {
    Percent,       // the volume's progress line has reached `percent`
    ScriptServed,  // the frameserver has begun to serve the volume's script
    Step,          // the target kills itself at a step of its work (`step`)
  } kind;
  double percent;
  Target target;
  std::string step;
  std::string what;
  bool records = false;  // the queue has the volume as encoded afterwards
};

// "write:(1of2).rmvb:<n>": the encoder has written n bytes of volume 1.
std::string WrittenStep(int v, double share) {
  const size_t bytes = kv_test::ReferenceVolumes()[v - 1].size();
  return "write:(" + std::to_string(v) +
         "of2).rmvb:" + std::to_string(static_cast<size_t>(bytes * share));
}

// The volume's script, as the encoder job file names it to the frameserver.
std::string ScriptOf(int v) {
  return "out0" + std::to_string(v) + ".avs";
}

// Where the kills of a volume fall within its progress: five moments drawn
// anew at each run, alternately the program's and the encoder's. The
// encoder is killed from outside only while much of the volume is left, so
// that it still runs when the kill comes; the program up to 90 %.
std::vector<Moment> PercentMomentsOf(int v, std::mt19937& random) {
  std::uniform_real_distribution<double> early(1.0, 55.0), late(1.0, 90.0);
  std::vector<double> encoder = {early(random), early(random)};
  std::vector<double> program = {late(random), late(random), late(random)};
  std::vector<Moment> moments;
  for (double p : encoder)
    moments.push_back({v, Moment::Percent, p, Target::Encoder, "", "encoder"});
  for (double p : program)
    moments.push_back({v, Moment::Percent, p, Target::Program, "", "program"});
  std::sort(moments.begin(), moments.end(),
            [](const Moment& a, const Moment& b) { return a.percent < b.percent; });
  return moments;
}

// Moments of volume v, in the order the road meets them; the last one of
// each volume leaves it encoded. Later in the volume the encoder kills
// itself after a number of bytes written.
std::vector<Moment> MomentsOf(int v, std::mt19937& random) {
  std::vector<Moment> moments = {
      {v, Moment::Step, 0, Target::Encoder, "fopen:" + ScriptOf(v),
       "frameserver, reading the volume's script"},
      {v, Moment::Step, 0, Target::Encoder, "fopen:.qmvi", "frameserver, opening the title"},
      {v, Moment::ScriptServed, 0, Target::Encoder, "", "encoder, script served"},
      {v, Moment::Percent, 0, Target::Program, "", "program, volume starting"},
  };
  for (const Moment& m : PercentMomentsOf(v, random)) moments.push_back(m);
  std::uniform_real_distribution<double> middle(0.3, 0.7);
  moments.push_back({v, Moment::Step, 0, Target::Encoder, WrittenStep(v, middle(random)),
                     "encoder, part of the volume written"});
  moments.push_back({v, Moment::Step, 0, Target::Encoder, WrittenStep(v, 0.98),
                     "encoder, volume nearly written"});
  // The volume is encoded; its JobFile is about to be written.
  moments.push_back({v, Moment::Step, 0, Target::Program, "mkstemp:/.kvnj/..kvnj.XXXXXX",
                     "program, volume encoded, JobFile not yet written"});
  if (v < kv_test::kRoadVolumes) {
    moments.push_back({v, Moment::Step, 0, Target::Program, "rename:/.kvnj/.kvnj",
                       "program, JobFile of the volume written", true});
  } else {
    moments.push_back({v, Moment::Step, 0, Target::Program, "unlink:/.kvnj/.kvnj",
                       "program, work files of the done job being removed", true});
  }
  return moments;
}

// The draw of this run; KV_FAULT_SEED repeats an earlier one.
unsigned Seed() {
  if (const char* seed = std::getenv("KV_FAULT_SEED"))
    return static_cast<unsigned>(std::atol(seed));
  return std::random_device{}();
}

class KillRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    // Encoders whose program is killed become children of this process, so
    // that none is left behind and none escapes the checks.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    ASSERT_EQ(kv_test::ReferenceVolumes().size(), 2u);
    ASSERT_EQ(kv_test::RunCli(kv_test::NewRoadJobArguments(dest_.Path())).status, 0);
    folder_ = dest_.File(kv_test::kRoadName);
  }
  void TearDown() override {
    for (pid_t pid : kv_test::OrphanedEncoders()) kv_test::EndOrphan(pid);
    for (pid_t pid : orphans_) kv_test::EndOrphan(pid);
    kv_test::ForgetQueuedJobs();
  }

  // Runs the job until `m` and kills there; returns what the program said
  // on its error stream.
  std::string RunUntilAndKill(const Moment& m);
  // The folder and the queue after a kill.
  void Check(const Moment& m, const std::string& said);

  bool VolumeIsWhole(int volume) const {
    return kv_test::ReadFile(kv_test::RoadVolumePath(folder_, volume)) ==
           kv_test::ReferenceVolumes()[volume - 1];
  }

  kv_test::TempDir dest_{"kv-kill-road"};
  std::string folder_;
  int finished_ = 0;         // volumes the queue has recorded as encoded
  std::set<pid_t> orphans_;  // encoders left running by a killed program
};

std::string KillRoad::RunUntilAndKill(const Moment& m) {
  std::vector<std::string> environment;
  if (m.kind == Moment::Step) environment = kv_test::FaultEnvironment(m.step, "kill");
  fs::remove(folder_ + "/.kvnj/avsdebug");
  CliChild cli({"encode", folder_}, environment);
  const std::regex progress(R"(volume (\d+) of \d+ .* ([0-9.]+) %)");
  const std::string data = folder_ + "/.kvnj/";
  bool reached = false;
  while (!reached) {
    const std::optional<std::string> line = cli.NextLine();
    if (!line) break;
    std::smatch match;
    if (!std::regex_search(*line, match, progress)) continue;
    if (std::stoi(match[1]) != m.volume) continue;
    if (m.kind == Moment::Percent && std::stod(match[2]) >= m.percent) reached = true;
    if (m.kind == Moment::ScriptServed) {
      // The frameserver marks the start of the clip with "avsdebug" in the
      // working folder (removed before the run); the encoder wrote its
      // "pid" before.
      while (!fs::exists(data + "avsdebug") && cli.Running()) usleep(200);
      reached = fs::exists(data + "avsdebug");
    }
  }
  if (m.kind == Moment::Step) {
    // Killed itself (the program), or saw its encoder do so.
    EXPECT_EQ(cli.Wait(), m.target == Target::Program ? -1 : 1) << "not reached: " << m.step << "\n"
                                                                << cli.Out();
    return cli.Err();
  }
  EXPECT_TRUE(reached) << m.what << ": the run ended first\n" << cli.Out() << cli.Err();
  if (m.target == Target::Program) {
    cli.Kill();
  } else {
    const pid_t pid = std::stoi(kv_test::ReadFile(data + "pid"));
    EXPECT_TRUE(kv_test::IsEncoder(pid)) << pid;
    if (kv_test::IsEncoder(pid)) ::kill(pid, SIGKILL);
    EXPECT_EQ(cli.Wait(), 1) << m.what;
  }
  cli.Wait();
  return cli.Err();
}

void KillRoad::Check(const Moment& m, const std::string& said) {
  // An encoder the program left behind is stopped where it is, as one that
  // has far more to encode would still be running at the next start.
  for (pid_t pid : kv_test::OrphanedEncoders()) {
    ::kill(pid, SIGSTOP);
    orphans_.insert(pid);
  }
  const kv_test::ListedRow row = kv_test::ListedRowOf(folder_);
  ASSERT_TRUE(row.found);
  // Either it encodes when started, or it is done: never broken.
  ASSERT_TRUE(row.state == "pending" || row.state == "done") << row.state << ": " << row.problem;
  const int done = row.state == "done" ? kv_test::kRoadVolumes : row.volumes_done;
  ASSERT_GE(done, finished_) << "a finished volume is no longer counted";
  for (int k = 1; k <= done; ++k) EXPECT_TRUE(VolumeIsWhole(k)) << "volume " << k;
  finished_ = done;
  if (m.target == Target::Encoder) {
    // The program saw its encoder die: the row and the terminal say why.
    const std::string why =
        "Volume " + std::to_string(m.volume) + " / 2: Encoder was abnormally terminated!";
    EXPECT_EQ(row.problem, why);
    EXPECT_NE(said.find("Encoder was abnormally terminated!"), std::string::npos) << said;
  }
}

TEST_F(KillRoad, KilledAgainAndAgainAlongItsRoadTheJobLosesNoVolumeAndEndsComplete) {
  const unsigned seed = Seed();
  RecordProperty("seed", std::to_string(seed));
  SCOPED_TRACE("KV_FAULT_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  std::vector<Moment> moments = MomentsOf(1, random);
  for (const Moment& m : MomentsOf(2, random)) moments.push_back(m);
  ASSERT_GE(moments.size(), 20u);
  for (const Moment& m : moments) {
    SCOPED_TRACE("volume " + std::to_string(m.volume) + ", " + m.what + " (" +
                 std::to_string(m.percent) + " %)");
    const std::string said = RunUntilAndKill(m);
    // An encoder left behind by an earlier kill never runs beside the one
    // this run started.
    for (pid_t pid : orphans_)
      EXPECT_TRUE(kv_test::OrphanEnded(pid)) << "encoder " << pid << " still runs";
    ASSERT_NO_FATAL_FAILURE(Check(m, said));
    EXPECT_EQ(finished_, m.volume - 1 + (m.records ? 1 : 0));
  }
  // Started once more, the program encodes what is left, if anything, and
  // the folder holds the job's two volumes and nothing else.
  const kv_test::CliRun again = kv_test::RunCli({"encode", "--all"});
  EXPECT_EQ(again.status, 0) << again.err << again.out;
  EXPECT_EQ(kv_test::ListedRowOf(folder_).state, "done");
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(folder_))
    files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"Road (1of2).rmvb", "Road (2of2).rmvb"}));
  EXPECT_TRUE(VolumeIsWhole(1));
  EXPECT_TRUE(VolumeIsWhole(2));
  for (pid_t pid : orphans_) EXPECT_TRUE(kv_test::OrphanEnded(pid)) << pid;
}

}  // namespace
