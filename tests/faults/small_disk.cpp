#include "tests/faults/small_disk.h"

#include "tests/faults/fault_road.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kv_test {
namespace {

constexpr char kInNamespaceVariable[] = "KV_TEST_IN_MOUNT_NAMESPACE";
// Room for the sample job's files and volumes, and for a job finished
// before it.
constexpr char kDiskSize[] = "size=24m";

std::string FreshFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kv-small-disk-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

// The command that runs `command` in a mount namespace of its own; empty
// when this machine makes none.
std::string InOwnMountNamespace(const std::string& command) {
  const std::string plain = "unshare --mount --propagation private ";
  const std::string as_user = "unshare --user --map-root-user --mount ";
  for (const std::string& prefix :
       geteuid() == 0 ? std::vector{plain, as_user} : std::vector{as_user}) {
    if (std::system((prefix + "true >/dev/null 2>&1").c_str()) == 0) return prefix + command;
  }
  return std::string();
}

}  // namespace

SmallDisk::SmallDisk() : path_(FreshFolder()) {
  // Mounted only inside the test's own namespace, never on the machine's.
  mounted_ = !path_.empty() && std::getenv(kInNamespaceVariable) &&
             ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, kDiskSize) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> SmallDisk::FullAt(const std::string& step) const {
  return FaultEnvironment(step, mounted_ ? "fill:" + path_ + "/filler" : "enospc:" + path_);
}

void SmallDisk::FreeSpace() {
  std::error_code ignored;
  std::filesystem::remove(path_ + "/filler", ignored);
}

bool MountOrRerun() {
  // KV_TEST_EMULATED_DISK tries on any machine what one without mounts does.
  if (std::getenv(kInNamespaceVariable) || std::getenv("KV_TEST_EMULATED_DISK")) return true;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string(test->test_suite_name()) + "." + test->name();
  const std::string command =
      InOwnMountNamespace(std::string("env ") + kInNamespaceVariable + "=1 /proc/" +
                          std::to_string(getpid()) + "/exe --gtest_filter=" + filter + " 2>&1");
  // No namespace here: the disk is emulated in this process.
  if (command.empty()) return true;
  std::string output;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << output;
  }
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  return false;
}

}  // namespace kv_test
