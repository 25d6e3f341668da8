// The encoder control with real child processes: the scripted test encoder
// plays console output, exit codes and behaviours, and the notifications are
// checked as they reach this (the user-interface) thread.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>
#include "platform/file_system.h"
#include "queue/con_redir.h"
#include "queue/encoder_control.h"
#include "queue/encoder_signal.h"
#include "tests/support/serve_events.h"
#include "tests/support/temp_dir.h"

namespace {

using kv_test::ServeEventsUntil;

const char kEncoder[] = KV_TEST_ENCODER;
const char kBanner[] = "line Helix DNA(TM) Producer 10.0 Build number: 10.0.0.0 (test)\n";

void ServeFor(int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// A process that has ended: gone, or a zombie nobody has reaped yet.
bool ProcessEnded(pid_t pid) {
  std::string stat = kv_test::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return true;
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

bool ProcessGone(pid_t pid) {
  return !std::filesystem::exists("/proc/" + std::to_string(pid));
}

struct Event {
  enum Kind { Progress, Finished, Stopped } kind = Progress;
  double percent = 0;
  bool changed = false;
  int volume = 0;
  int volumes = 0;
  bool failed = false;
  std::string message;

  std::string Text() const {
    char text[160];
    if (kind == Progress)
      std::snprintf(text, sizeof text, "progress %.1f %s", percent, changed ? "changed" : "same");
    else if (kind == Finished)
      std::snprintf(text, sizeof text, "finished %d/%d", volume, volumes);
    else
      std::snprintf(text, sizeof text, "stopped %s%s%s", failed ? "failed" : "aborted",
                    message.empty() ? "" : ": ", message.c_str());
    return text;
  }
};

class Recorder : public queue::EncoderEvents {
 public:
  void ShowVolumeProgress(double percent, bool changed) override {
    Event event;
    event.percent = percent;
    event.changed = changed;
    Add(event);
  }
  void VolumeFinished(int volume, int volumes) override {
    Event event;
    event.kind = Event::Finished;
    event.volume = volume;
    event.volumes = volumes;
    Add(event);
  }
  void RunStopped(bool failed, const std::string& message) override {
    Event event;
    event.kind = Event::Stopped;
    event.failed = failed;
    event.message = message;
    Add(event);
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Event& e : events) texts.push_back(e.Text());
    return texts;
  }
  bool Ended() const { return !events.empty() && events.back().kind != Event::Progress; }

  std::vector<Event> events;
  bool off_thread = false;

 private:
  void Add(Event event) {
    if (std::this_thread::get_id() != ui_) off_thread = true;
    events.push_back(std::move(event));
  }
  std::thread::id ui_ = std::this_thread::get_id();
};

// Every test runs in a fresh working folder, as the runner makes the job's
// work folder the current one.
class EncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::CurrentFolder();
    ASSERT_TRUE(platform::SetCurrentFolder(dir_.Path()));
    encoder_.SetEvents(&recorder_);
  }
  void TearDown() override {
    encoder_.Close();
    platform::SetCurrentFolder(previous_);
  }

  static std::string JobName(int volume) {
    char name[32];
    std::snprintf(name, sizeof name, "out%.2d.rpjf", volume);
    return name;
  }
  void WriteJob(int volume, bool two_pass, int complexity, int first_pass) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<job xmlns=\"http://ns.real.com/tools/job.2.0\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\r\n";
    text += std::string("<enableTwoPass type=\"bool\">") + (two_pass ? "true" : "false") +
            "</enableTwoPass>\r\n";
    if (complexity >= 0)
      text += "<encoderComplexity type=\"uint\">" + std::to_string(complexity) +
              "</encoderComplexity>\r\n";
    if (first_pass >= 0)
      text += std::string(two_pass ? "" : "<!-- ") + "<firstPassComplexity type=\"uint\">" +
              std::to_string(first_pass) + "</firstPassComplexity>" + (two_pass ? "" : " -->") +
              "\r\n";
    kv_test::WriteFile(dir_.File(JobName(volume)), text + "</job>\r\n");
  }
  void WriteScript(int volume, const std::string& script) {
    kv_test::WriteFile(dir_.File(JobName(volume) + ".script"), script);
  }
  // One-pass job with a script; starts it.
  bool Start(const std::string& script, int volume = 1, int volumes = 1,
             queue::PriorityClass priority = queue::PriorityClass::Normal) {
    if (!std::filesystem::exists(dir_.File(JobName(volume)))) WriteJob(volume, false, 85, 50);
    WriteScript(volume, script);
    return encoder_.StartVolume(kEncoder, JobName(volume), volume, volumes, priority);
  }
  void WaitForEnd() {
    ServeEventsUntil([this] { return recorder_.Ended(); });
  }
  pid_t EncoderPid() const {
    return static_cast<pid_t>(std::atoi(kv_test::ReadFile(dir_.File("pid")).c_str()));
  }

  kv_test::TempDir dir_{"kv-encoder"};
  std::string previous_;
  Recorder recorder_;
  queue::TKVNEncoder encoder_;
};

const std::string kStarted =
    std::string("pid\n") + kBanner + "avsdebug\nline Info: Starting encode\n";

// --- percentages ------------------------------------------------------------------

TEST_F(EncoderTest, OnePassPercentagesAndDone) {
  ASSERT_TRUE(Start(kStarted + "line Analysis: 50%\n"
                               "out Encoding@450k: Pass 1 (35%)\\rEncoding@450k: Pass 1 (35%)\\r\n"
                               "line Encoding@450k: Pass 1 (36%)\n"
                               "line Done encoding out01.rmvb\n",
                    2, 3));
  WaitForEnd();
  EXPECT_EQ(recorder_.Texts(),
            (std::vector<std::string>{"progress 0.0 same", "progress 0.0 changed",
                                      "progress 35.0 changed", "progress 35.0 same",
                                      "progress 36.0 changed", "progress 100.0 changed",
                                      "finished 2/3"}));
  EXPECT_FALSE(recorder_.off_thread);
  EXPECT_FALSE(encoder_.BannerSeen());  // cleared with the end
}

TEST_F(EncoderTest, TwoPassPercentagesFollowThePassWeights) {
  WriteJob(1, true, 85, 50);  // weights 60 and 22
  ASSERT_TRUE(Start(kStarted + "line Analysis: 50%\nline Analysis: 50%\nline Analysis: 100%\n"
                               "line Encoding@450k: Pass 2 (35%)\nline Done encoding\n"));
  WaitForEnd();
  EXPECT_EQ(
      recorder_.Texts(),
      (std::vector<std::string>{"progress 0.0 same", "progress 13.4 changed", "progress 13.4 same",
                                "progress 26.8 changed", "progress 52.4 changed",
                                "progress 100.0 changed", "finished 1/1"}));
}

TEST_F(EncoderTest, TwoPassWithoutComplexitiesUsesTheDefaults) {
  WriteJob(1, true, -1, -1);  // 90 and 50: weights 60 and 22 again
  ASSERT_TRUE(Start(kStarted + "line Encoding@v: Pass 2 (35%)\nline Done \n"));
  WaitForEnd();
  ASSERT_GE(recorder_.events.size(), 2u);
  EXPECT_EQ(recorder_.events[1].Text(), "progress 52.4 changed");
}

// --- failures ---------------------------------------------------------------------

TEST_F(EncoderTest, JobFileUnreadableOrForeignDoesNotStart) {
  WriteScript(1, "args\n");
  EXPECT_FALSE(encoder_.StartVolume(kEncoder, "out01.rpjf", 1, 1, queue::PriorityClass::Normal));
  kv_test::WriteFile(dir_.File("out01.rpjf"), "<job xmlns=\"http://example.org/job\">");
  EXPECT_FALSE(encoder_.StartVolume(kEncoder, "out01.rpjf", 1, 1, queue::PriorityClass::Normal));
  ServeFor(100);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("args.txt")));  // nothing was started
  EXPECT_TRUE(recorder_.events.empty());
}

TEST_F(EncoderTest, MissingEncoderProgramDoesNotStart) {
  WriteJob(1, false, 85, 50);
  EXPECT_FALSE(encoder_.StartVolume(dir_.File("helix/producer"), "out01.rpjf", 1, 1,
                                    queue::PriorityClass::Normal));
  EXPECT_FALSE(encoder_.ChildRunning());
  ServeFor(100);
  EXPECT_TRUE(recorder_.events.empty());
}

// The frameserver's file of an earlier run is removed before the encoder
// starts, read-only or not; here the new run never creates one.
TEST_F(EncoderTest, OldAvsdebugIsRemovedFirst) {
  kv_test::WriteFile(dir_.File("avsdebug"), "old");
  ASSERT_TRUE(platform::SetReadOnly(dir_.File("avsdebug"), true));
  ASSERT_TRUE(Start(std::string("pid\n") + kBanner + "line Info: Starting encode\nhang\n"));
  WaitForEnd();
  EXPECT_EQ(recorder_.Texts(), (std::vector<std::string>{"stopped failed: Encoding failed!"}));
}

TEST_F(EncoderTest, OldAvsdebugThatCannotBeRemovedDoesNotStart) {
  kv_test::WriteFile(dir_.File("avsdebug"), "old");
  int fd = ::open(dir_.File("avsdebug").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  int flags = 0;
  bool immutable = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                   (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  if (!immutable) {
    ::close(fd);
    GTEST_SKIP() << "no immutable files here";
  }
  WriteScript(1, "args\n");
  WriteJob(1, false, 85, 50);
  bool started = encoder_.StartVolume(kEncoder, "out01.rpjf", 1, 1, queue::PriorityClass::Normal);
  flags &= ~FS_IMMUTABLE_FL;
  ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
  ::close(fd);
  EXPECT_FALSE(started);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("args.txt")));
}

TEST_F(EncoderTest, EndBeforeBannerIsUnableToInitialize) {
  ASSERT_TRUE(Start("line Starting up\nexit 1\n"));
  WaitForEnd();
  EXPECT_EQ(recorder_.Texts(),
            (std::vector<std::string>{"stopped failed: Unable to initialize encoder!"}));
}

TEST_F(EncoderTest, BannerWithoutProcessIdKillsTheEncoder) {
  for (const char* pid_step : {"", "pidtext none\n"}) {
    SCOPED_TRACE(pid_step);
    recorder_.events.clear();
    std::filesystem::remove(dir_.File("pid"));
    ASSERT_TRUE(Start(std::string(pid_step) + kBanner + "hang\n"));
    pid_t child = encoder_.ChildProcessId();
    WaitForEnd();
    EXPECT_EQ(recorder_.Texts(), (std::vector<std::string>{"stopped failed: Encoding failed!"}));
    // The script hangs: only the kill ends it.
    ServeEventsUntil([&] { return ProcessEnded(child); });
    encoder_.Close();
    EXPECT_TRUE(ProcessGone(child));
  }
}

TEST_F(EncoderTest, StartingEncodeWithoutServedScriptKillsTheEncoder) {
  ASSERT_TRUE(Start(std::string("pid\n") + kBanner + "line Info: Starting encode\nhang\n"));
  WaitForEnd();
  EXPECT_EQ(recorder_.Texts(), (std::vector<std::string>{"stopped failed: Encoding failed!"}));
  pid_t child = EncoderPid();
  ServeEventsUntil([&] { return ProcessEnded(child); });
}

TEST_F(EncoderTest, ErrorLineFailsTheVolumeAndLaterLinesCountForNothing) {
  ASSERT_TRUE(Start(kStarted +
                    "line Encoding@v: Pass 1 (10%)\nline Error: cannot write out01.rmvb\n"
                    "line Error: second error\nline Encoding@v: Pass 1 (50%)\n"
                    "line Done encoding\n"));
  WaitForEnd();
  EXPECT_EQ(recorder_.Texts(),
            (std::vector<std::string>{"progress 0.0 same", "progress 10.0 changed",
                                      "stopped failed: Encoding failed!"}));
}

TEST_F(EncoderTest, EndAfterBannerWithoutDoneIsAbnormal) {
  ASSERT_TRUE(Start(kStarted + "line Encoding@v: Pass 1 (40%)\nexit 0\n"));
  WaitForEnd();
  EXPECT_EQ(recorder_.Texts(),
            (std::vector<std::string>{"progress 0.0 same", "progress 40.0 changed",
                                      "stopped failed: Encoder was abnormally terminated!"}));
}

// Close alone (not followed by a new volume) still reports the end.
TEST_F(EncoderTest, ClosedEncoderIsStillReported) {
  ASSERT_TRUE(Start(kStarted + "hang\n"));
  ServeEventsUntil([this] { return encoder_.BannerSeen(); });
  pid_t child = EncoderPid();
  encoder_.Close();
  EXPECT_TRUE(ProcessGone(child));
  WaitForEnd();
  EXPECT_EQ(recorder_.events.back().Text(), "stopped failed: Encoder was abnormally terminated!");
}

// --- abort ------------------------------------------------------------------------

TEST_F(EncoderTest, AbortBeforeBannerPostsNothingAndReportsAnAbort) {
  ASSERT_TRUE(Start("sleep 300\npid\nsocket\n" + std::string(kBanner) +
                    "avsdebug\nline Info: Starting encode\nline Encoding@v: Pass 1 (50%)\n"
                    "line Done encoding\n"));
  encoder_.RequestStop();
  WaitForEnd();
  EXPECT_EQ(recorder_.Texts(), (std::vector<std::string>{"stopped aborted"}));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("stops.log")));
}

TEST_F(EncoderTest, AbortAfterBannerSendsTheStopMessage) {
  ASSERT_TRUE(Start(std::string("pid\nsocket\n") + kBanner +
                    "avsdebug\nline Info: Starting encode\nline Encoding@v: Pass 1 (5%)\n"
                    "wait_stop\nline Encoding@v: Pass 1 (6%)\nexit 0\n"));
  ServeEventsUntil([this] { return recorder_.events.size() == 2; });
  ASSERT_TRUE(encoder_.BannerSeen());
  encoder_.RequestStop();
  WaitForEnd();
  EXPECT_EQ(
      recorder_.Texts(),
      (std::vector<std::string>{"progress 0.0 same", "progress 5.0 changed", "stopped aborted"}));
  EXPECT_EQ(kv_test::ReadFile(dir_.File("stops.log")), "1 0\n");
}

TEST_F(EncoderTest, AbortWithoutCatcherKillsTheEncoder) {
  ASSERT_TRUE(Start(kStarted + "hang\n"));
  ServeEventsUntil([this] { return encoder_.BannerSeen(); });
  pid_t child = EncoderPid();
  encoder_.RequestStop();
  EXPECT_TRUE(ProcessGone(child));
  WaitForEnd();
  EXPECT_EQ(recorder_.events.back().Text(), "stopped aborted");
}

TEST_F(EncoderTest, AbortIgnoredByTheEncoderEndsWithAKill) {
  encoder_.SetStopGrace(std::chrono::milliseconds(200));
  ASSERT_TRUE(Start(std::string("pid\nsocket\n") + kBanner + "ignore_stop\n"));
  ServeEventsUntil([this] { return encoder_.BannerSeen(); });
  pid_t child = EncoderPid();
  encoder_.RequestStop();
  WaitForEnd();
  EXPECT_EQ(recorder_.Texts(), (std::vector<std::string>{"stopped aborted"}));
  EXPECT_EQ(kv_test::ReadFile(dir_.File("stops.log")), "1 0\n");
  ServeEventsUntil([&] { return ProcessEnded(child); });
}

// --- processes --------------------------------------------------------------------

TEST_F(EncoderTest, CommandLineWorkingFolderAndDescriptors) {
  ASSERT_TRUE(Start("args\nfds\n" + kStarted + "line Done \n", 1, 1, queue::PriorityClass::Idle));
  WaitForEnd();
  EXPECT_EQ(kv_test::ReadFile(dir_.File("args.txt")),
            "-j\nout01.rpjf\n-daw\n-lc\ne,i\n-pid\npid\n");
  // Only its own three ends: nothing of ours leaks into the encoder.
  EXPECT_EQ(kv_test::ReadFile(dir_.File("fds.txt")), "0\n1\n2\n");
  EXPECT_EQ(recorder_.events.back().Text(), "finished 1/1");
}

TEST(EncoderCommandLine, EncoderPathIsQuotedOnlyWhenNeeded) {
  EXPECT_EQ(queue::TKVNEncoder::CommandLine("/opt/kv/helix/producer", "out02.rpjf"),
            "/opt/kv/helix/producer -j \"out02.rpjf\" -daw -lc \"e,i\" -pid pid");
  // A blank in the program folder's path must not cut the program name.
  std::vector<std::string> expected{
      "/opt/My Programs/helix/producer", "-j", "out02.rpjf", "-daw", "-lc", "e,i", "-pid", "pid"};
  EXPECT_EQ(queue::SplitCommandLine(
                queue::TKVNEncoder::CommandLine("/opt/My Programs/helix/producer", "out02.rpjf")),
            expected);
}

TEST_F(EncoderTest, EncoderInAFolderWithABlank) {
  std::string program = dir_.File("My Programs/helix/producer");
  kv_test::MakeFolders(dir_.File("My Programs/helix"));
  std::filesystem::copy_file(kEncoder, program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  WriteJob(1, false, 85, 50);
  WriteScript(1, "args\n" + kStarted + "line Done \n");
  ASSERT_TRUE(encoder_.StartVolume(program, "out01.rpjf", 1, 1, queue::PriorityClass::Normal));
  WaitForEnd();
  EXPECT_EQ(recorder_.events.back().Text(), "finished 1/1");
}

TEST_F(EncoderTest, PriorityClassesAreNiceValues) {
  ASSERT_TRUE(Start("nice\n" + kStarted + "hang\n", 1, 1, queue::PriorityClass::Idle));
  ServeEventsUntil([this] { return encoder_.BannerSeen(); });
  EXPECT_EQ(kv_test::ReadFile(dir_.File("nice.txt")), "19");
  pid_t child = EncoderPid();
  errno = 0;
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(child)), 19);
  encoder_.SetChildPriority(queue::PriorityClass::High);
  // A raise needs the privilege; without it the value stays.
  int expected = geteuid() == 0 ? -10 : 19;
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(child)), expected);
  encoder_.Close();
  encoder_.SetChildPriority(queue::PriorityClass::Idle);  // no child: nothing happens
}

TEST_F(EncoderTest, NoProcessesLeftBehind) {
  pid_t child = 0, sleeper = 0;
  {
    Recorder recorder;
    queue::TKVNEncoder encoder;
    encoder.SetEvents(&recorder);
    WriteJob(1, false, 85, 50);
    WriteScript(1, "sleeper\n" + kStarted + "hang\n");
    ASSERT_TRUE(encoder.StartVolume(kEncoder, "out01.rpjf", 1, 1, queue::PriorityClass::Normal));
    ServeEventsUntil([&] { return encoder.BannerSeen(); });
    child = EncoderPid();
    sleeper = std::atoi(kv_test::ReadFile(dir_.File("sleeper.pid")).c_str());
    ASSERT_GT(sleeper, 0);
    EXPECT_FALSE(ProcessEnded(sleeper));
  }  // destroying the controller kills the encoder and what it started
  EXPECT_TRUE(ProcessGone(child));
  ServeEventsUntil([&] { return ProcessEnded(sleeper); });
}

TEST_F(EncoderTest, ThreeVolumesOneAfterTheOther) {
  for (int volume = 1; volume <= 3; ++volume) {
    encoder_.Close();
    ASSERT_TRUE(Start(kStarted + "line Encoding@v: Pass 1 (50%)\nline Done \n", volume, 3));
    ServeEventsUntil([&] { return recorder_.events.size() >= 4u * volume; });
    ServeFor(50);
    EXPECT_EQ(recorder_.events.size(), 4u * volume);
    EXPECT_EQ(recorder_.events.back().Text(), "finished " + std::to_string(volume) + "/3");
  }
}

// What an earlier volume still had queued is dropped once the next starts.
TEST_F(EncoderTest, NotificationsOfAnEarlierVolumeAreDropped) {
  std::string spew = kStarted;
  for (int i = 0; i < 100; ++i) spew += "line Encoding@v: Pass 1 (" + std::to_string(i) + "%)\n";
  ASSERT_TRUE(Start(spew + "hang\n", 1, 2));
  // Without serving the queue: everything of volume 1 is still waiting.
  while (!std::filesystem::exists(dir_.File("avsdebug")))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  encoder_.Close();
  ASSERT_TRUE(Start(kStarted + "line Done \n", 2, 2));
  WaitForEnd();
  EXPECT_EQ(recorder_.Texts(), (std::vector<std::string>{
                                   "progress 0.0 same", "progress 100.0 changed", "finished 2/2"}));
}

}  // namespace
