// The forced stop: a worker stuck in a read for more than a second is
// abandoned, never killed. This binary interposes pread() so that the first
// worker thread that reads blocks until the test lets it go; and a stop
// reaches the probe that starts a run; a run is told over only once it has
// let go of its files and threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/blocked_read.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

using kv_test::Peek;

TEST(Abandon, StuckWorkerIsAbandonedAndNeverWritesAgain) {
  if (!std::filesystem::is_directory(kv_test::SampleDvdRoot()))
    GTEST_SKIP() << "no sample discs at " << kv_test::SampleDvdRoot();
  kv_test::TempDir dir("tessmar-abandon");
  std::string vob = kv_test::SampleVobs("ntsc_multi")[0];
  const tessmar::VobList list(std::vector<std::string>(10, vob));
  kv_test::blocked_read::Arm();
  TessmarStatus a{};
  ASSERT_EQ(Tessmar(list.Files(), dir.File("a").c_str(), 1, 1, &a), 0);
  ASSERT_TRUE(kv_test::blocked_read::WaitUntilBlocked());
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
  kv_test::WaitForEnd(b);
  EXPECT_EQ(Peek(b.finished), 1);
  EXPECT_EQ(kv_test::CrLfLines(kv_test::ReadFile(dir.File("b.qmci"))).back(), ".");
  EXPECT_EQ(TessmarStop(&a), 0);  // a second stop: the run is over

  // Let the abandoned worker finish its read: it writes nothing more.
  kv_test::blocked_read::Release();
  ASSERT_TRUE(kv_test::blocked_read::WaitUntilBack());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(std::filesystem::file_size(dir.File("a.d2v")), d2v);
  EXPECT_EQ(std::filesystem::file_size(dir.File("a.qmci")), qmci);
  std::string a_text = kv_test::ReadFile(dir.File("a.d2v"));
  EXPECT_EQ(a_text.find("FINISHED"), std::string::npos);
  EXPECT_EQ(a_text.find("INTERRUPTED"), std::string::npos);  // no trailer lines
  EXPECT_EQ(std::memcmp(&a, &a_after_stop, sizeof a), 0);    // nor a byte of its block
}

// The probe that starts a run reads until it finds a sequence header and a
// picture, all of a damaged title set without one. A stop reaches it: it
// ends at its next read, and the run it starts ends at once, interrupted.
TEST(Abandon, AStopEndsTheProbeAtItsNextRead) {
  kv_test::TempDir dir("tessmar-probe-stop");
  const std::string vob = dir.File("VTS_01_1.VOB");
  kv_test::WriteFile(vob, "");
  const int64_t size = int64_t{1} << 30;  // no start code in a GiB of zeros
  ASSERT_EQ(::truncate(vob.c_str(), size), 0);
  kv_test::blocked_read::Arm();
  TessmarStatus status{};
  int32_t result = -1;
  std::thread starter([&] {
    result = Tessmar(tessmar::VobList({vob}).Files(), dir.File("p").c_str(), 1, 1, &status);
  });
  ASSERT_TRUE(kv_test::blocked_read::WaitUntilBlocked());
  EXPECT_EQ(TessmarStop(&status), 0);
  kv_test::blocked_read::Release();
  starter.join();
  ASSERT_EQ(result, 0);
  kv_test::WaitForEnd(status);
  EXPECT_EQ(Peek(status.finished), 0);
  EXPECT_NE(kv_test::ReadFile(dir.File("p.d2v")).find("\r\nINTERRUPTED"), std::string::npos);
  EXPECT_LT(kv_test::blocked_read::BytesRead(), size / 16);
}

// The threads of this process.
size_t TaskCount() {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++n;
  }
  return n;
}

// The descriptors of this process open on `path`.
int OpenCount(const std::string& path) {
  const std::filesystem::path file = std::filesystem::canonical(path);
  int n = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    if (std::filesystem::read_symlink(entry.path(), error) == file) ++n;
  }
  return n;
}

// A run that ends while its reading thread is still in a read ahead of the
// scan is not over yet: the caller may remove the title set as soon as it
// sees the run end, so the run tells its end only once the read is back, the
// thread joined and the files closed.
TEST(Abandon, ARunIsToldOverOnlyOnceItsReadingThreadAndFilesAreGone) {
  kv_test::TempDir dir("tessmar-let-go");
  // A sequence header without a sequence extension: no MPEG-2 video, found in
  // the first block of three megabytes.
  const std::string vob = dir.File("VTS_01_1.VOB");
  kv_test::WriteFile(
      vob, std::string("\0\0\1\xB3", 4) + std::string(8, '\0') + std::string("\0\0\1\xB8", 4));
  ASSERT_EQ(::truncate(vob.c_str(), 3 << 20), 0);
  const size_t threads_before = TaskCount();
  // The probe reads on this thread; of the reading thread's reads the first
  // block goes on, the second blocks.
  kv_test::blocked_read::Arm(1);
  TessmarStatus status{};
  ASSERT_EQ(Tessmar(tessmar::VobList({vob}).Files(), dir.File("r").c_str(), 1, 1, &status), 0);
  ASSERT_TRUE(kv_test::blocked_read::WaitUntilBlocked());
  // The outputs end "INTERRUPTED" once the scan has come to its end.
  const auto t0 = std::chrono::steady_clock::now();
  while (kv_test::ReadFile(dir.File("r.d2v")).find("INTERRUPTED") == std::string::npos &&
         std::chrono::steady_clock::now() - t0 < std::chrono::seconds(20))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(kv_test::ReadFile(dir.File("r.d2v")), "\r\nINTERRUPTED  0.00% FILM\r\n");
  EXPECT_EQ(Peek(status.running), 1);  // its reading thread is still in a read
  EXPECT_EQ(OpenCount(vob), 1);

  kv_test::blocked_read::Release();
  while (Peek(status.running)) {
  }
  // At once: no file of the title set open, no reading thread; at most the
  // worker is left, on its way out.
  EXPECT_EQ(OpenCount(vob), 0);
  EXPECT_LE(TaskCount(), threads_before + 1);
  EXPECT_EQ(Peek(status.ended), 1);
  EXPECT_EQ(Peek(status.finished), 0);
}

}  // namespace
