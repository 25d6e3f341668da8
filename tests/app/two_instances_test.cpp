// Two real processes of the program: the second one brings the first one's
// window forward and refuses to start while the first runs, a first one
// ended by SIGTERM cleans up, and one killed with SIGKILL neither blocks the
// next start nor leaves the system broken.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/file_system.h"
#include "platform/registry_store.h"
#include "tests/app/shell_fixture.h"

#ifndef KV_SHELL_RUNNER
#error "KV_SHELL_RUNNER must name the shell runner program"
#endif

namespace {

// One run of the program with its standard input and output on pipes.
class ProgramProcess {
 public:
  explicit ProgramProcess(const app::StartupEnvironment& environment) {
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // A test ended from outside (its time-out) takes the program with it.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(out[1], STDOUT_FILENO);
      dup2(in[0], STDIN_FILENO);
      for (int fd : {out[0], out[1], in[0], in[1]}) close(fd);
      execl(KV_SHELL_RUNNER, KV_SHELL_RUNNER, environment.program_folder.c_str(),
            environment.system_folder.c_str(), environment.registry_path.c_str(), nullptr);
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    output_ = out[0];
    input_ = in[1];
  }
  ~ProgramProcess() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) close(output_);
    if (input_ >= 0) close(input_);
  }

  // A line to the program's standard input.
  void Send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // The next line of output, or "" once the output ends (the program
  // ended). There is no bound in time: a start-up under a sanitizer beside
  // other work takes many times the usual, and a program that hangs is ended
  // by the test's time-out.
  std::string NextLine() {
    for (;;) {
      const size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      char bytes[256];
      const ssize_t n = read(output_, bytes, sizeof bytes);
      if (n <= 0) return "";
      buffer_.append(bytes, static_cast<size_t>(n));
    }
  }

  void Signal(int signal_number) { kill(pid_, signal_number); }
  bool Running() const { return !ended_ && kill(pid_, 0) == 0 && !Reaped(); }

  // The exit code, or -signal, once the program has ended.
  int Wait() {
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1000;
    ended_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

 private:
  bool Reaped() const {
    int status = 0;
    return waitpid(pid_, &status, WNOHANG) == pid_;
  }

  pid_t pid_ = -1;
  int output_ = -1;
  int input_ = -1;
  bool ended_ = false;
  std::string buffer_;
};

TEST(TwoInstances, TheSecondIsRefusedAndTheFirstCleansUpOnSigterm) {
  kv_test::ProgramFolders folders;
  ProgramProcess first(folders.Environment());
  ASSERT_EQ(first.NextLine(), "READY");
  EXPECT_EQ(kv_test::ReadFile(folders.System("avisynth.dll")), "the frameserver");

  ProgramProcess second(folders.Environment());
  EXPECT_EQ(second.NextLine(), "MESSAGE Kestrevane is already running!");
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_TRUE(first.Running()) << "the first instance is left alone";

  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_FALSE(platform::FileExists(folders.System("avisynth.dll")));
  EXPECT_FALSE(platform::FileExists(folders.System("devil.dll")));
}

TEST(TwoInstances, TheSecondStartBringsTheFirstWindowForward) {
  kv_test::ProgramFolders folders;
  ProgramProcess first(folders.Environment());
  ASSERT_EQ(first.NextLine(), "READY");
  first.Send("minimize");
  ASSERT_EQ(first.NextLine(), "MINIMIZED");

  ProgramProcess second(folders.Environment());
  EXPECT_EQ(second.NextLine(), "MESSAGE Kestrevane is already running!");
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_EQ(first.NextLine(), "RESTORED");

  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
}

TEST(TwoInstances, AKilledInstanceNeitherBlocksTheNextNorLeavesItsInstallationBehind) {
  kv_test::ProgramFolders folders;
  {
    ProgramProcess killed(folders.Environment());
    ASSERT_EQ(killed.NextLine(), "READY");
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait(), -SIGKILL);
  }
  auto store = platform::RegistryStore::Open(folders.RegistryPath());
  ASSERT_TRUE(store);
  EXPECT_TRUE(
      store->ReadString(platform::RegistryRoot::LocalMachine, "SOFTWARE\\AviSynth", "tempinst"))
      << "the crash left the temporary installation marked";

  ProgramProcess next(folders.Environment());
  ASSERT_EQ(next.NextLine(), "READY");
  next.Signal(SIGTERM);
  EXPECT_EQ(next.Wait(), 0);
  EXPECT_FALSE(platform::FileExists(folders.System("avisynth.dll")));
  EXPECT_FALSE(store->KeyExists(platform::RegistryRoot::LocalMachine, "SOFTWARE\\AviSynth"));
}

}  // namespace
