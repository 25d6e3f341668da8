#include "platform/folders.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace {

// Sets or removes an environment variable for the length of a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (previous_)
      ::setenv(name_, previous_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

TEST(ProgramFolder, IsTheFolderOfThisTestProgramWithOneTrailingSlash) {
  const std::string folder = platform::ProgramFolder();
  ASSERT_GE(folder.size(), 2u);
  EXPECT_EQ(folder.back(), '/');
  EXPECT_NE(folder[folder.size() - 2], '/');
  char exe[PATH_MAX];
  ASSERT_NE(::realpath("/proc/self/exe", exe), nullptr);
  const std::string exe_path = exe;
  EXPECT_EQ(exe_path.substr(0, folder.size()), folder);
  EXPECT_EQ(exe_path.find('/', folder.size()), std::string::npos);
}

TEST(SystemFolder, IsMadeUnderTheXdgDataFolder) {
  kv_test::TempDir dir;
  ScopedEnv data("XDG_DATA_HOME", (dir.Path() + "/data/").c_str());
  const std::string folder = platform::SystemFolder();
  EXPECT_EQ(folder, dir.Path() + "/data/kestrevane/system");
  EXPECT_TRUE(platform::DirectoryExists(folder));
  EXPECT_EQ(platform::SystemFolder(), folder);  // an existing one is fine too
}

TEST(SystemFolder, DefaultsToTheHomeDataFolder) {
  kv_test::TempDir dir;
  ScopedEnv data("XDG_DATA_HOME", nullptr);
  ScopedEnv home("HOME", dir.Path().c_str());
  EXPECT_EQ(platform::SystemFolder(), dir.Path() + "/.local/share/kestrevane/system");
  EXPECT_TRUE(platform::DirectoryExists(dir.Path() + "/.local/share/kestrevane/system"));
}

TEST(SystemFolder, IsEmptyWhenItCannotBeMade) {
  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("file"), "x");
  ScopedEnv data("XDG_DATA_HOME", dir.File("file").c_str());
  EXPECT_EQ(platform::SystemFolder(), "");
}

}  // namespace
