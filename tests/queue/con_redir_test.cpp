// The console redirection with real child processes (the scripted test
// encoder), and the hand-over of work to the user-interface thread.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/file_system.h"
#include "queue/con_redir.h"
#include "queue/ui_handover.h"
#include "tests/support/serve_events.h"
#include "tests/support/temp_dir.h"

namespace {

using kv_test::ServeEventsUntil;

const char kEncoder[] = KV_TEST_ENCODER;

// A process that has ended: gone, or a zombie nobody has reaped yet.
bool ProcessEnded(pid_t pid) {
  std::string stat = kv_test::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return true;
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

// Records what the handlers see, from whichever thread they run on.
class LineRecorder : public queue::CConRedir {
 public:
  ~LineRecorder() { Close(); }

  std::vector<std::string> Out() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
  }
  std::vector<std::string> Err() {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
  }
  int Ends() const { return ends_; }
  bool LineAfterEnd() const { return line_after_end_; }
  bool LineOnCallerThread() const { return on_caller_; }
  // A line with this text makes the handler close the controller.
  std::string close_on;

 protected:
  void OnStdOutLine(const std::string& line) override {
    Add(out_, line);
    if (!close_on.empty() && line == close_on) Close();
  }
  void OnStdErrLine(const std::string& line) override { Add(err_, line); }
  void OnChildEnded() override { ++ends_; }

 private:
  void Add(std::vector<std::string>& lines, const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ends_ > 0) line_after_end_ = true;
    if (std::this_thread::get_id() == caller_) on_caller_ = true;
    lines.push_back(line);
  }
  std::mutex mutex_;
  std::vector<std::string> out_, err_;
  std::atomic<int> ends_{0};
  std::atomic<bool> line_after_end_{false};
  std::atomic<bool> on_caller_{false};
  std::thread::id caller_ = std::this_thread::get_id();
};

class ConRedirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::CurrentFolder();
    ASSERT_TRUE(platform::SetCurrentFolder(dir_.Path()));
  }
  void TearDown() override { platform::SetCurrentFolder(previous_); }

  // Starts the test encoder on `script`.
  bool Open(LineRecorder& lines, const std::string& script, int nice_value = 0) {
    kv_test::WriteFile(dir_.File("run.rpjf.script"), script);
    return lines.Open(std::string(kEncoder) + " -j run.rpjf", nice_value, false);
  }
  int FileNumber(const char* name) { return std::atoi(kv_test::ReadFile(dir_.File(name)).c_str()); }

  kv_test::TempDir dir_{"kv-redir"};
  std::string previous_;
};

TEST_F(ConRedirTest, LinesAreCutAtCarriageReturnsAcrossReads) {
  LineRecorder lines;
  ASSERT_TRUE(Open(lines,
                   "out par\nsleep 60\nout tial\\r\n"  // a line split across reads
                   "out one\\rtwo\\r\n"                // two lines in one read
                   "out crlf\\r\nsleep 60\nout \\nnext\\r\\nbare\\n\nsleep 60\nout \\r\n"
                   "out \\nlead\\r\n"                  // one leading line feed is dropped
                   "err E1\\r\\nE2\n"                  // standard error is cut the same way
                   "fill 5000 z\nsleep 30\nout \\r\n"  // longer than several blocks
                   "out last without cr\n"));          // delivered when the child ends
  ServeEventsUntil([&] { return lines.Ends() > 0; });
  EXPECT_EQ(lines.Out(),
            (std::vector<std::string>{"partial", "one", "two", "crlf", "next", "bare\n", "lead",
                                      std::string(5000, 'z'), "last without cr"}));
  EXPECT_EQ(lines.Err(), (std::vector<std::string>{"E1", "E2"}));
  EXPECT_FALSE(lines.LineAfterEnd());
  EXPECT_FALSE(lines.LineOnCallerThread());
  EXPECT_FALSE(lines.IsChildRunning());
  lines.Close();
  EXPECT_EQ(lines.Ends(), 1);
}

TEST_F(ConRedirTest, ChildHoldsOnlyItsOwnThreeEnds) {
  LineRecorder lines;
  ASSERT_TRUE(Open(lines, "fds\n"));
  ServeEventsUntil([&] { return lines.Ends() > 0; });
  EXPECT_EQ(kv_test::ReadFile(dir_.File("fds.txt")), "0\n1\n2\n");
}

TEST_F(ConRedirTest, StartsAtTheNiceValueAndChangesIt) {
  LineRecorder lines;
  ASSERT_TRUE(Open(lines, "nice\nline ready\nhang\n", 7));
  ServeEventsUntil([&] { return !lines.Out().empty(); });
  // Read by the child itself before anything could have changed it later.
  EXPECT_EQ(kv_test::ReadFile(dir_.File("nice.txt")), "7");
  ASSERT_TRUE(lines.IsChildRunning());
  lines.SetChildPriority(12);
  errno = 0;
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(lines.ChildProcessId())), 12);
  lines.Close();
  EXPECT_FALSE(lines.IsChildRunning());
}

TEST_F(ConRedirTest, CloseKillsTheWholeProcessGroup) {
  LineRecorder lines;
  ASSERT_TRUE(Open(lines, "sleeper\npid\nline ready\nhang\n"));
  ServeEventsUntil([&] { return !lines.Out().empty(); });
  pid_t child = FileNumber("pid");
  pid_t sleeper = FileNumber("sleeper.pid");
  ASSERT_GT(sleeper, 0);
  EXPECT_TRUE(lines.IsChildRunning());
  EXPECT_EQ(lines.ChildProcessId(), child);
  lines.Close();
  EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(child)));  // killed and reaped
  ServeEventsUntil([&] { return ProcessEnded(sleeper); });
  EXPECT_EQ(lines.Ends(), 1);  // a killed child is reported too
  lines.Close();               // and a second Close is harmless
  EXPECT_EQ(lines.Ends(), 1);
}

// The state letter of a process in /proc ('T' while stopped); ' ' when gone.
char ProcessState(pid_t pid) {
  std::string stat = kv_test::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : ' ';
}

TEST_F(ConRedirTest, SuspendAndResumeStopAndContinueTheWholeProcessGroup) {
  LineRecorder lines;
  EXPECT_FALSE(lines.SuspendChild()) << "no child";
  ASSERT_TRUE(Open(lines, "sleeper\npid\nline ready\nhang\n"));
  ServeEventsUntil([&] { return !lines.Out().empty(); });
  const pid_t child = FileNumber("pid");
  const pid_t sleeper = FileNumber("sleeper.pid");
  ASSERT_GT(sleeper, 0);
  ASSERT_TRUE(lines.SuspendChild());
  ServeEventsUntil([&] { return ProcessState(child) == 'T' && ProcessState(sleeper) == 'T'; });
  EXPECT_TRUE(lines.IsChildRunning()) << "a stopped child still runs";
  EXPECT_EQ(lines.Ends(), 0);
  ASSERT_TRUE(lines.ResumeChild());
  ServeEventsUntil([&] { return ProcessState(child) != 'T' && ProcessState(sleeper) != 'T'; });
  ASSERT_TRUE(lines.SuspendChild());
  lines.Close();  // a stopped child is killed all the same
  ServeEventsUntil([&] { return ProcessEnded(sleeper); });
  EXPECT_EQ(lines.Ends(), 1);
  EXPECT_FALSE(lines.ResumeChild()) << "no child any more";
}

// A handler that closes the controller stops the run from the reader's own
// thread without waiting on itself; the end is still reported once.
TEST_F(ConRedirTest, CloseFromAHandlerStopsTheRun) {
  LineRecorder lines;
  lines.close_on = "stop here";
  ASSERT_TRUE(Open(lines, "pid\nline stop here\nline after\nhang\n"));
  ServeEventsUntil([&] { return lines.Ends() > 0; });
  pid_t child = FileNumber("pid");
  ServeEventsUntil([&] { return ProcessEnded(child); });
  lines.Close();
  EXPECT_EQ(lines.Ends(), 1);
  EXPECT_EQ(lines.Out().front(), "stop here");
}

TEST_F(ConRedirTest, NothingToStartFails) {
  LineRecorder lines;
  EXPECT_FALSE(lines.Open(dir_.File("no/such/program") + " -j x", 0, false));
  EXPECT_FALSE(lines.Open("", 0, false));
  EXPECT_FALSE(lines.Open("   ", 0, false));
  EXPECT_FALSE(lines.IsChildRunning());
  EXPECT_EQ(lines.ChildProcessId(), 0);
  lines.Close();
  EXPECT_EQ(lines.Ends(), 0);
}

TEST_F(ConRedirTest, OneControllerRunsChildAfterChild) {
  LineRecorder lines;
  for (int run = 1; run <= 3; ++run) {
    ASSERT_TRUE(Open(lines, "out run " + std::to_string(run) + "\n"));
    ServeEventsUntil([&] { return lines.Ends() == run; });
    lines.Close();
  }
  EXPECT_EQ(lines.Out(), (std::vector<std::string>{"run 1", "run 2", "run 3"}));
}

// --- hand-over to the user-interface thread -------------------------------------------

TEST(UiHandover, RunsItemsOnItsThreadInPostingOrder) {
  queue::UiHandover handover;
  std::vector<std::pair<int, int>> seen;  // (thread, sequence), user-interface thread only
  std::atomic<bool> off_thread{false};
  const std::thread::id ui = std::this_thread::get_id();
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i)
        handover.Post([&, t, i] {
          if (std::this_thread::get_id() != ui) off_thread = true;
          seen.emplace_back(t, i);
        });
    });
  }
  for (std::thread& worker : workers) worker.join();
  ServeEventsUntil([&] { return seen.size() == 8000; });
  EXPECT_FALSE(off_thread);
  int next[4] = {0, 0, 0, 0};
  for (auto [t, i] : seen) {
    EXPECT_EQ(i, next[t]) << "thread " << t;
    next[t] = i + 1;
  }
}

// An item that runs an event loop of its own (a message box does) lets the
// items behind it run meanwhile, still in order.
TEST(UiHandover, NestedEventLoopGoesOnInOrder) {
  queue::UiHandover handover;
  std::vector<std::string> seen;
  std::thread worker([&] {
    handover.Post([&] { seen.push_back("1"); });
    handover.Post([&] {
      seen.push_back("2 begins");
      ServeEventsUntil([&] { return seen.size() == 5; });
      seen.push_back("2 ends");
    });
    for (const char* item : {"3", "4", "5"}) handover.Post([&, item] { seen.push_back(item); });
  });
  worker.join();
  ServeEventsUntil([&] { return seen.size() == 6; });
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2 begins", "3", "4", "5", "2 ends"}));
}

TEST(UiHandover, WorkLeftWhenItGoesIsDropped) {
  bool ran = false;
  {
    queue::UiHandover handover;
    handover.Post([&] { ran = true; });
  }
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);
}

}  // namespace
