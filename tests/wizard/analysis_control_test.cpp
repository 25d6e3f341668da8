// The analysis control while the library probes the title set that a start
// waits for: the pause of a question and the stop of an abort do not wait
// for the probe, the stop ends it, and a pause finds the run once started.
// The binary interposes pread(), so that the probe's first read blocks until
// the test lets it go.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/blocked_read.h"
#include "tests/tessmar/tessmar_test_util.h"
#include "wizard/analysis_control.h"

namespace {

namespace blocked_read = kv_test::blocked_read;

template <typename T>
T Peek(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_acquire);
}

TEST(AnalysisControl, AbortDuringTheProbeNeitherWaitsForItNorLetsItRead) {
  kv_test::TempDir dir;
  const std::string vob = dir.File("VTS_01_1.VOB");
  kv_test::WriteFile(vob, "");
  const int64_t size = int64_t{1} << 30;  // a damaged title set: no sequence header
  ASSERT_EQ(::truncate(vob.c_str(), size), 0);
  wizard::AnalysisControl control;
  blocked_read::Arm();
  int32_t started = -2;
  std::thread worker([&] { started = control.StartIndexRun({vob}, dir.File("vts01")); });
  ASSERT_TRUE(blocked_read::WaitUntilBlocked());
  // The user-interface side of "Do you really want abort the analysis?"
  // answered Yes, while the probe's read is held.
  std::promise<void> answered;
  std::thread user([&] {
    control.Pause();
    control.Resume();
    control.RequestStop();
    answered.set_value();
  });
  EXPECT_EQ(answered.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  blocked_read::Release();
  user.join();
  worker.join();
  // The worker's side: a run that got started stops at once.
  if (started == 0) {
    control.StopLibrary();
    EXPECT_EQ(Peek(control.Status().finished), 0);
  }
  EXPECT_FALSE(control.LibraryRunning());
  EXPECT_LT(blocked_read::BytesRead(), size / 16);
}

TEST(AnalysisControl, APauseDuringTheProbeSuspendsTheRunOnceStarted) {
  kv_test::TempDir dir;
  const std::string vob = kv_test::SampleVobs("ntsc_multi")[0];
  wizard::AnalysisControl control;
  blocked_read::Arm();
  int32_t started = -2;
  std::thread worker([&] { started = control.StartIndexRun({vob}, dir.File("vts01")); });
  ASSERT_TRUE(blocked_read::WaitUntilBlocked());
  std::promise<void> paused;
  std::thread user([&] {
    control.Pause();
    paused.set_value();
  });
  EXPECT_EQ(paused.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  blocked_read::Release();
  user.join();
  worker.join();
  ASSERT_EQ(started, 0);
  // Suspended, unless the run was over before it could park.
  if (control.LibraryRunning()) {
    EXPECT_EQ(Peek(control.Status().suspended), 1);
  }
  control.Resume();
  EXPECT_EQ(Peek(control.Status().suspended), 0);
  while (control.LibraryRunning()) control.Wait(std::chrono::milliseconds(5));
  EXPECT_EQ(Peek(control.Status().finished), 1);
}

}  // namespace
