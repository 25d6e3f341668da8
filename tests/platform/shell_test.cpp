// The real shell's StartProgram with real child processes.
#include "platform/shell.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace {

// Until `condition` holds; ctest's time-out bounds it.
void WaitFor(const std::function<bool()>& condition) {
  while (!condition()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// The children of this process, zombies included, over all its threads.
std::string Children() {
  std::string all;
  const std::string tasks = "/proc/" + std::to_string(::getpid()) + "/task";
  DIR* dir = ::opendir(tasks.c_str());
  if (!dir) return "?";
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(tasks + "/" + entry->d_name + "/children");
    std::ostringstream s;
    s << in.rdbuf();
    all += s.str();
  }
  ::closedir(dir);
  return all;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

TEST(RealShell, StartsAProgramInItsWorkingFolderDetachedAndReaped) {
  kv_test::TempDir dir;
  char folder[PATH_MAX];
  ASSERT_NE(::realpath(dir.Path().c_str(), folder), nullptr);
  // The script writes its folder, its arguments and whether it leads a
  // session of its own; the file appears complete through the rename.
  const std::string script =
      "pwd > out.tmp; echo \"$1|$2\" >> out.tmp; "
      "set -- $(cat /proc/$$/stat); [ \"$6\" = \"$$\" ] && echo leader >> out.tmp; "
      "mv out.tmp out.txt";
  ASSERT_TRUE(platform::ShellSeam().Current().StartProgram(
      "/bin/sh", {"-c", script, "sh", "first arg", "second"}, dir.Path()));
  WaitFor([&] { return platform::FileExists(dir.File("out.txt")); });
  EXPECT_EQ(kv_test::ReadFile(dir.File("out.txt")),
            std::string(folder) + "\nfirst arg|second\nleader\n");
  // Nobody but the shell waits for it, and no zombie stays behind.
  WaitFor([] { return Trimmed(Children()).empty(); });
}

TEST(RealShell, FindsProgramsByNameInThePath) {
  kv_test::TempDir dir;
  ASSERT_TRUE(platform::TheShell().StartProgram("touch", {"made"}, dir.Path()));
  WaitFor([&] { return platform::FileExists(dir.File("made")); });
}

TEST(RealShell, ReportsAProgramOrFolderThatIsNotThere) {
  kv_test::TempDir dir;
  EXPECT_FALSE(platform::TheShell().StartProgram(dir.File("no-such-program"), {}, dir.Path()));
  EXPECT_FALSE(platform::TheShell().StartProgram("/bin/true", {}, dir.File("no-such-folder")));
}

}  // namespace
