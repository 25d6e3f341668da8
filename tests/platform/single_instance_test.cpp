#include "platform/single_instance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using platform::SingleInstanceLock;
using Outcome = SingleInstanceLock::Outcome;

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

// The lock as this process would take it, or null.
std::unique_ptr<SingleInstanceLock> Take(const std::string& name) {
  return SingleInstanceLock::Acquire(name).lock;
}

TEST(SingleInstanceLock, AnotherProcessHoldsItUntilItIsKilled) {
  const std::string name = UniqueName("Kill");
  EXPECT_FALSE(SingleInstanceLock::IsHeld(name));

  Holder holder(name);
  ASSERT_EQ(holder.Answer(), "held\n");
  EXPECT_TRUE(SingleInstanceLock::IsHeld(name));
  const SingleInstanceLock::Attempt refused = SingleInstanceLock::Acquire(name);
  EXPECT_EQ(refused.outcome, Outcome::HeldByAnother);
  EXPECT_EQ(refused.lock, nullptr);
  EXPECT_EQ(refused.path, SingleInstanceLock::LockPath(name));
  // Looking did not take it.
  EXPECT_TRUE(SingleInstanceLock::IsHeld(name));

  const int status = holder.Kill();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(SingleInstanceLock::IsHeld(name));
  EXPECT_NE(Take(name), nullptr);
}

TEST(SingleInstanceLock, SecondInstanceIsRefusedWhileTheFirstRuns) {
  const std::string name = UniqueName("Second");
  auto first = Take(name);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(SingleInstanceLock::IsHeld(name));

  Holder second(name);
  EXPECT_EQ(second.Answer(), "busy\n");
  const int status = second.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);

  // Within this process too: the lock is not reentrant.
  EXPECT_EQ(SingleInstanceLock::Acquire(name).outcome, Outcome::HeldByAnother);

  first.reset();
  EXPECT_FALSE(SingleInstanceLock::IsHeld(name));
}

TEST(SingleInstanceLock, StartedProgramsDoNotInheritIt) {
  const std::string name = UniqueName("Inherit");
  auto lock = Take(name);
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
  EXPECT_NE(Take(name), nullptr);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST(SingleInstanceLock, LivesInTheRuntimeFolder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  ASSERT_NE(runtime, nullptr);
  const std::string name = UniqueName("Path");
  EXPECT_EQ(SingleInstanceLock::LockPath(name), std::string(runtime) + "/" + name);
  const SingleInstanceLock::Attempt attempt = SingleInstanceLock::Acquire(name);
  ASSERT_EQ(attempt.outcome, Outcome::Acquired);
  EXPECT_EQ(attempt.path, std::string(runtime) + "/" + name);
  struct stat st;
  EXPECT_EQ(::stat(attempt.path.c_str(), &st), 0);
}

// Sets an environment variable for the length of a scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnvironment() {
    if (saved_.empty())
      ::unsetenv(name_);
    else
      ::setenv(name_, saved_.c_str(), 1);
  }

 private:
  const char* name_;
  std::string saved_;
};

TEST(SingleInstanceLock, WithoutRuntimeFolderUsesThePrivateDataFolder) {
  kv_test::TempDir dir("kv-lock-data");
  const std::string data = dir.File("data");
  ScopedEnvironment runtime("XDG_RUNTIME_DIR", nullptr);
  ScopedEnvironment data_home("XDG_DATA_HOME", data.c_str());
  const std::string name = UniqueName("Data");
  const std::string folder = data + "/kestrevane";
  EXPECT_EQ(SingleInstanceLock::LockPath(name), folder + "/" + name);

  Holder holder(name);
  ASSERT_EQ(holder.Answer(), "held\n");
  EXPECT_TRUE(SingleInstanceLock::IsHeld(name));
  EXPECT_EQ(SingleInstanceLock::Acquire(name).outcome, Outcome::HeldByAnother);
  struct stat st;
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, ::getuid());
}

int NoLocks(int, int) {
  errno = ENOLCK;
  return -1;
}

// Folders that cannot hold the lock are passed over: none of them means
// another instance, and when no folder is left the start goes on unguarded.
TEST(SingleInstanceLock, OnlyALockHeldByAnotherProcessMeansAnotherInstance) {
  const std::string name = UniqueName("Places");
  struct Case {
    const char* what;
    std::function<void(const std::string& runtime)> spoil;  // the first folder
    bool needs_root;
  };
  const std::vector<Case> cases = {
      {"a runtime folder that does not exist", [](const std::string&) {}, false},
      {"a file in the runtime folder's place",
       [](const std::string& runtime) { kv_test::WriteFile(runtime, "x"); }, false},
      {"a folder in the lock file's place",
       [&](const std::string& runtime) { kv_test::MakeFolders(runtime + "/" + name); }, false},
      {"a runtime folder other users may write to",
       [](const std::string& runtime) {
         kv_test::MakeFolders(runtime);
         ::chmod(runtime.c_str(), 0777);
       },
       false},
      {"a runtime folder of another user",
       [](const std::string& runtime) {
         kv_test::MakeFolders(runtime);
         ASSERT_EQ(::chown(runtime.c_str(), 65534, 65534), 0);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_root && ::geteuid() != 0) continue;  // only root can give a folder away
    kv_test::TempDir dir("kv-lock-places");
    const std::string runtime = dir.File("runtime");
    const std::string data = dir.File("data/kestrevane");
    c.spoil(runtime);
    const std::vector<SingleInstanceLock::Folder> folders = {{runtime, false}, {data, true}};

    SingleInstanceLock::Attempt first = SingleInstanceLock::AcquireIn(name, folders);
    ASSERT_EQ(first.outcome, Outcome::Acquired) << first.reason;
    EXPECT_EQ(first.path, data + "/" + name);
    // A second start looks in the same places and finds the first.
    EXPECT_EQ(SingleInstanceLock::AcquireIn(name, folders).outcome, Outcome::HeldByAnother);

    // Without the data folder to fall back on, nothing can hold the lock.
    const SingleInstanceLock::Attempt alone = SingleInstanceLock::AcquireIn(name, {{runtime}});
    EXPECT_EQ(alone.outcome, Outcome::Unavailable);
    EXPECT_NE(alone.reason.find(runtime), std::string::npos) << alone.reason;
  }
}

TEST(SingleInstanceLock, AFileSystemWithoutLocksIsNotAnotherInstance) {
  kv_test::TempDir dir("kv-lock-nolocks");
  const std::string name = UniqueName("NoLocks");
  const SingleInstanceLock::Attempt attempt =
      SingleInstanceLock::AcquireIn(name, {{dir.File("a"), true}, {dir.File("b"), true}}, NoLocks);
  EXPECT_EQ(attempt.outcome, Outcome::Unavailable);
  EXPECT_EQ(attempt.lock, nullptr);
  EXPECT_NE(attempt.reason.find("cannot be locked"), std::string::npos) << attempt.reason;
  EXPECT_NE(attempt.reason.find(dir.File("b")), std::string::npos) << "every folder was tried";
}

}  // namespace
