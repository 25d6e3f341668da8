#include "platform/single_instance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

using platform::SingleInstanceLock;

// A child process running kv_lock_holder; its first output line tells
// whether it got the lock.
class Holder {
 public:
  explicit Holder(const std::string& name) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      ::execl(KV_LOCK_HOLDER, KV_LOCK_HOLDER, name.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    char buffer[16] = {};
    ssize_t total = 0;
    while (total < 5) {
      ssize_t got = ::read(fds[0], buffer + total, sizeof buffer - 1 - total);
      if (got <= 0) break;
      total += got;
    }
    ::close(fds[0]);
    answer_ = std::string(buffer, static_cast<size_t>(total));
  }
  ~Holder() { Kill(); }

  const std::string& Answer() const { return answer_; }
  int Kill() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }
  // The exit status of a child that ends by itself.
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  std::string answer_;
};

std::string UniqueName(const char* what) {
  return std::string("KestrevaneTest") + what + std::to_string(::getpid());
}

TEST(SingleInstanceLock, AnotherProcessHoldsItUntilItIsKilled) {
  const std::string name = UniqueName("Kill");
  EXPECT_FALSE(SingleInstanceLock::IsHeld(name));

  Holder holder(name);
  ASSERT_EQ(holder.Answer(), "held\n");
  EXPECT_TRUE(SingleInstanceLock::IsHeld(name));
  EXPECT_EQ(SingleInstanceLock::TryAcquire(name), nullptr);
  // Looking did not take it.
  EXPECT_TRUE(SingleInstanceLock::IsHeld(name));

  const int status = holder.Kill();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(SingleInstanceLock::IsHeld(name));
  auto mine = SingleInstanceLock::TryAcquire(name);
  EXPECT_NE(mine, nullptr);
}

TEST(SingleInstanceLock, SecondInstanceIsRefusedWhileTheFirstRuns) {
  const std::string name = UniqueName("Second");
  auto first = SingleInstanceLock::TryAcquire(name);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(SingleInstanceLock::IsHeld(name));

  Holder second(name);
  EXPECT_EQ(second.Answer(), "busy\n");
  const int status = second.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);

  // Within this process too: the lock is not reentrant.
  EXPECT_EQ(SingleInstanceLock::TryAcquire(name), nullptr);

  first.reset();
  EXPECT_FALSE(SingleInstanceLock::IsHeld(name));
}

TEST(SingleInstanceLock, StartedProgramsDoNotInheritIt) {
  const std::string name = UniqueName("Inherit");
  auto lock = SingleInstanceLock::TryAcquire(name);
  ASSERT_NE(lock, nullptr);

  // The end of a close-on-exec pipe tells when the child has exec'd: until
  // then it still shares every descriptor of ours.
  int exec_done[2];
  ASSERT_EQ(::pipe2(exec_done, O_CLOEXEC), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(exec_done[1]);
  char byte;
  while (::read(exec_done[0], &byte, 1) > 0) {
  }
  ::close(exec_done[0]);
  ASSERT_GT(child, 0);
  lock.reset();
  // The still running child has no descriptor of the lock file.
  EXPECT_FALSE(SingleInstanceLock::IsHeld(name));
  auto again = SingleInstanceLock::TryAcquire(name);
  EXPECT_NE(again, nullptr);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST(SingleInstanceLock, LivesInTheRuntimeFolder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  ASSERT_NE(runtime, nullptr);
  const std::string name = UniqueName("Path");
  EXPECT_EQ(SingleInstanceLock::LockPath(name), std::string(runtime) + "/" + name);
  auto lock = SingleInstanceLock::TryAcquire(name);
  ASSERT_NE(lock, nullptr);
  struct stat st;
  EXPECT_EQ(::stat(SingleInstanceLock::LockPath(name).c_str(), &st), 0);
}

TEST(SingleInstanceLock, WithoutRuntimeFolderUsesAPrivateFolderInTmp) {
  const std::string saved = std::getenv("XDG_RUNTIME_DIR");
  ::unsetenv("XDG_RUNTIME_DIR");
  const std::string name = UniqueName("Tmp");
  const std::string folder = "/tmp/kestrevane-" + std::to_string(::getuid());
  const std::string path = SingleInstanceLock::LockPath(name);
  EXPECT_EQ(path, folder + "/" + name);
  {
    auto lock = SingleInstanceLock::TryAcquire(name);
    EXPECT_NE(lock, nullptr);
    EXPECT_TRUE(SingleInstanceLock::IsHeld(name));
    struct stat st;
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::getuid());
  }
  ::unlink(path.c_str());
  ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

}  // namespace
