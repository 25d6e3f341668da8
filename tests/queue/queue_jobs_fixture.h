#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/recorders.h"
#include "tests/support/scoped_registry.h"
#include "tests/support/temp_dir.h"

namespace kv_test {

// Job folders listed in a registry store of their own, with every dialog,
// sound, the power-off, the sleep locks and the notifications answered by
// recorders. The current folder (which
// a run changes) is put back afterwards.
class QueueJobsTest : public ::testing::Test {
 protected:
  QueueJobsTest();
  ~QueueJobsTest() override;

  // A job folder with its JobFile and `volumes` encoder job files, listed in
  // the registry as the next entry.
  std::string MakeJob(const std::string& name, const std::string& progress, int volumes,
                      const std::string& time = "--", const std::string& left = "--");
  void ListJob(const std::string& folder, const std::string& name, bool done = false);
  std::string JobFileText(const std::string& folder);
  // The names of the registry's entries, in list order.
  std::vector<std::string> RegistryNames();
  // The "Done" value of registry entry `index`.
  uint32_t RegistryDone(int index);

  TempDir dir_{"kv-queue-jobs"};
  ScopedRegistry registry_;
  MessageBoxRecorder boxes_;
  FolderChooserScript chooser_;
  ShellRecorder shell_;
  SoundRecorder sounds_;
  PowerOffRecorder power_off_;
  SleepInhibitorRecorder sleep_;
  NotificationRecorder notifications_;
  int listed_ = 0;
  std::string previous_folder_;
};

}  // namespace kv_test
