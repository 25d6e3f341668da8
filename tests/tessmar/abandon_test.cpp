// The forced stop: a worker stuck in a read for more than a second is
// abandoned, never killed. This binary interposes pread() so that the first
// worker thread that reads blocks until the test lets it go.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

std::mutex g_mutex;
// Never destroyed: the abandoned worker's reading thread may still read
// while the process exits.
std::condition_variable& Cv() {
  static auto* cv = new std::condition_variable;
  return *cv;
}
bool g_armed = false;       // the next worker read blocks
bool g_released = false;    // and goes on once this is set
std::thread::id g_main;     // the test's own reads never block
std::thread::id g_stuck;    // the worker that blocked
bool g_stuck_now = false;   // it is inside the blocked read
bool g_stuck_done = false;  // it came back from it

}  // namespace

extern "C" ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  using Real = ssize_t (*)(int, void*, size_t, off_t);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pread"));
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    if (g_armed && std::this_thread::get_id() != g_main) {
      g_armed = false;
      g_stuck = std::this_thread::get_id();
      g_stuck_now = true;
      Cv().notify_all();
      Cv().wait(lock, [] { return g_released; });
      g_stuck_now = false;
    }
  }
  ssize_t n = real(fd, buf, count, offset);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (std::this_thread::get_id() == g_stuck && !g_stuck_done) {
    g_stuck_done = true;
    Cv().notify_all();
  }
  return n;
}

namespace {

using kv_test::Peek;

TEST(Abandon, StuckWorkerIsAbandonedAndNeverWritesAgain) {
  if (!std::filesystem::is_directory(kv_test::SampleDvdRoot()))
    GTEST_SKIP() << "no sample discs at " << kv_test::SampleDvdRoot();
  kv_test::TempDir dir("tessmar-abandon");
  g_main = std::this_thread::get_id();
  std::string vob = kv_test::SampleVobs("ntsc_multi")[0];
  const tessmar::VobList list(std::vector<std::string>(10, vob));
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_armed = true;
  }
  TessmarStatus a{};
  ASSERT_EQ(Tessmar(list.Files(), dir.File("a").c_str(), 1, 1, &a), 0);
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    ASSERT_TRUE(Cv().wait_for(lock, std::chrono::seconds(30), [] { return g_stuck_now; }));
  }
  // A worker that cannot park within a second: the suspension is refused.
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(TessmarSuspend(&a), 3);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
  EXPECT_EQ(Peek(a.suspended), 0);
  EXPECT_EQ(TessmarResume(&a), 2);

  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(TessmarStop(&a), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
  EXPECT_EQ(Peek(a.running), 0);
  EXPECT_EQ(Peek(a.ended), 1);
  EXPECT_EQ(Peek(a.finished), 0);
  const TessmarStatus a_after_stop = a;
  const uintmax_t d2v = std::filesystem::file_size(dir.File("a.d2v"));
  const uintmax_t qmci = std::filesystem::file_size(dir.File("a.qmci"));

  // The library is idle at once: a new run starts and finishes while the
  // abandoned worker is still stuck.
  TessmarStatus b{};
  ASSERT_EQ(Tessmar(tessmar::VobList({vob}).Files(), dir.File("b").c_str(), 1, 1, &b), 0);
  ASSERT_TRUE(kv_test::WaitForEnd(b));
  EXPECT_EQ(Peek(b.finished), 1);
  EXPECT_EQ(kv_test::CrLfLines(kv_test::ReadFile(dir.File("b.qmci"))).back(), ".");
  EXPECT_EQ(TessmarStop(&a), 0);  // a second stop: the run is over

  // Let the abandoned worker finish its read: it writes nothing more.
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_released = true;
    Cv().notify_all();
    ASSERT_TRUE(Cv().wait_for(lock, std::chrono::seconds(30), [] { return g_stuck_done; }));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(std::filesystem::file_size(dir.File("a.d2v")), d2v);
  EXPECT_EQ(std::filesystem::file_size(dir.File("a.qmci")), qmci);
  std::string a_text = kv_test::ReadFile(dir.File("a.d2v"));
  EXPECT_EQ(a_text.find("FINISHED"), std::string::npos);
  EXPECT_EQ(a_text.find("INTERRUPTED"), std::string::npos);  // no trailer lines
  EXPECT_EQ(std::memcmp(&a, &a_after_stop, sizeof a), 0);    // nor a byte of its block
}

}  // namespace
