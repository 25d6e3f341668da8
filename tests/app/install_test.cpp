// An installed copy: `cmake --install` of this build into a temporary prefix
// lays out the program folder as the build does, a launcher, the menu entry
// and the icon; the launcher starts the program from there, which installs
// the frameserver from its own folder and ends cleanly on SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/registry_store.h"
#include "tests/support/temp_dir.h"

#ifndef KV_BUILD_DIR
#error "KV_BUILD_DIR must name the build tree to install"
#endif

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A child process with its output in a file; killed if it outlives the test.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
        const std::string& output) {
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) _exit(127);
      for (const std::string& setting : environment) ::putenv(::strdup(setting.c_str()));
      const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  void Signal(int signal_number) { ::kill(pid_, signal_number); }
  // Whether it still runs; once it has ended, its status is kept.
  bool Running() {
    if (!ended_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
    return !ended_;
  }
  // The exit code, or -signal (ctest's time-out bounds the wait).
  int Wait() {
    while (!ended_) {
      if (::waitpid(pid_, &status_, 0) == pid_)
        ended_ = true;
      else if (errno != EINTR)
        return -1000;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -WTERMSIG(status_);
  }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
};

// The files under `folder`, as paths relative to it.
std::set<std::string> FilesUnder(const std::string& folder) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), folder).string());
  return files;
}

bool IsElf(const std::string& path) {
  return kv_test::ReadFile(path).compare(0, 4,
                                         "\x7f"
                                         "ELF") == 0;
}

TEST(InstalledCopy, LaysOutTheProgramFolderAndStartsFromThere) {
  kv_test::TempDir dir("kv-install");
  const std::string prefix = dir.File("prefix");
  {
    Child install({"cmake", "--install", KV_BUILD_DIR, "--prefix", prefix}, {},
                  dir.File("install.log"));
    ASSERT_EQ(install.Wait(), 0) << kv_test::ReadFile(dir.File("install.log"));
  }

  // The program folder holds exactly what the build's program folder holds.
  const std::string program = prefix + "/lib/kestrevane";
  EXPECT_EQ(FilesUnder(program), FilesUnder(std::string(KV_BUILD_DIR) + "/Kestrevane"));
  for (const char* part : {"Kestrevane", "libtessmar.so", "qmvideo.dll", "avisynth.dll",
                           "helix/producer", "mplayer2", "Readme.txt", "License.txt"})
    EXPECT_TRUE(platform::FileExists(program + "/" + part)) << part;
  // Every program and library finds what it links from where it lies now.
  for (const std::string& file : FilesUnder(program)) {
    const std::string path = program + "/" + file;
    if (!IsElf(path)) continue;
    Child ldd({"ldd", path}, {}, dir.File("ldd.log"));
    EXPECT_EQ(ldd.Wait(), 0) << file;
    const std::string libraries = kv_test::ReadFile(dir.File("ldd.log"));
    EXPECT_EQ(libraries.find("not found"), std::string::npos) << file << ":\n" << libraries;
    EXPECT_EQ(libraries.find(KV_BUILD_DIR), std::string::npos) << file << " uses the build tree";
  }

  struct stat launcher {};
  ASSERT_EQ(::stat((prefix + "/bin/kestrevane").c_str(), &launcher), 0);
  EXPECT_TRUE(launcher.st_mode & S_IXUSR);
  const std::string entry = prefix + "/share/applications/kestrevane.desktop";
  const std::string entry_text = kv_test::ReadFile(entry);
  EXPECT_NE(entry_text.find("\nExec=" + prefix + "/bin/kestrevane\n"), std::string::npos)
      << entry_text;
  EXPECT_NE(entry_text.find("\nIcon=kestrevane\n"), std::string::npos);
  EXPECT_TRUE(platform::FileExists(prefix + "/share/icons/hicolor/scalable/apps/kestrevane.svg"));
  {
    Child validate({"desktop-file-validate", entry}, {}, dir.File("validate.log"));
    EXPECT_EQ(validate.Wait(), 0) << kv_test::ReadFile(dir.File("validate.log"));
  }

  // Started through the launcher from another folder, with a home of its own.
  kv_test::MakeFolders(dir.File("data"));
  kv_test::MakeFolders(dir.File("runtime"));
  ::chmod(dir.File("runtime").c_str(), 0700);
  const std::string registry = dir.File("registry.db");
  Child started({prefix + "/bin/kestrevane"},
                {"QT_QPA_PLATFORM=offscreen", "XDG_DATA_HOME=" + dir.File("data"),
                 "XDG_RUNTIME_DIR=" + dir.File("runtime"), "KESTREVANE_REGISTRY=" + registry},
                dir.File("program.log"));
  const std::string system_avisynth = dir.File("data") + "/kestrevane/system/avisynth.dll";
  auto installed_from = [&]() -> std::string {
    auto store = platform::RegistryStore::Open(registry);
    if (!store || !platform::FileExists(system_avisynth)) return "";
    return store
        ->ReadString(platform::RegistryRoot::LocalMachine, "SOFTWARE\\AviSynth", "plugindir2_5")
        .value_or("");
  };
  while (installed_from().empty() && started.Running()) std::this_thread::sleep_for(50ms);
  EXPECT_EQ(installed_from(), program) << "the frameserver of the installed copy, set up at "
                                          "start-up\n"
                                       << kv_test::ReadFile(dir.File("program.log"));
  // The queue window comes 1.5 s after the checks; an end requested earlier
  // ends the program as well.
  started.Signal(SIGTERM);
  EXPECT_EQ(started.Wait(), 0) << kv_test::ReadFile(dir.File("program.log"));
  EXPECT_FALSE(platform::FileExists(system_avisynth)) << "the exit clean-up ran";
}

}  // namespace
