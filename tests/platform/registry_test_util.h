// Helpers of the registry store tests: a dump of a subtree and a child
// process running the registry_writer helper.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/registry_store.h"

namespace kv_test {

// Every key and value below `key` (included), one line each, in enumeration
// order, with types; a missing key dumps as "<missing>".
inline std::string DumpKey(platform::RegistryStore& store, platform::RegistryRoot root,
                           const std::string& key) {
  auto subkeys = store.SubKeyNames(root, key);
  auto values = store.ValueNames(root, key);
  if (!subkeys || !values) return key + " <missing>\n";
  std::string out = "[" + key + "]\n";
  for (const std::string& name : *values) {
    switch (store.ValueType(root, key, name)) {
      case platform::RegistryValueType::String:
        out += "  " + name + " = sz:" + store.ReadString(root, key, name).value_or("<?>") + "\n";
        break;
      case platform::RegistryValueType::DWord:
        out += "  " + name +
               " = dword:" + std::to_string(store.ReadDWord(root, key, name).value_or(0xdeadbeef)) +
               "\n";
        break;
      case platform::RegistryValueType::None:
        out += "  " + name + " = <none>\n";
        break;
    }
  }
  for (const std::string& name : *subkeys) {
    out += DumpKey(store, root, key.empty() ? name : key + "\\" + name);
  }
  return out;
}

// A child process whose standard output is a pipe to us. The destructor kills
// and reaps it if it is still there, so no test leaves a process behind.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);  // dup2 clears O_CLOEXEC on the copy
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      return;
    }
    out_ = fds[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (out_ >= 0) close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0 && out_ >= 0; }

  // Waits until the child has printed `marker` (two bytes: a letter and a
  // line feed); false when its output ends first. There is no time bound:
  // a child that hangs is ended by ctest's time-out.
  bool WaitFor(const std::string& marker) {
    while (received_.find(marker) == std::string::npos) {
      char buffer[64];
      ssize_t n = read(out_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      received_.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }

  void Kill(int signal = SIGKILL) {
    if (pid_ > 0 && !reaped_) kill(pid_, signal);
  }

  // Reaps the child; its wait status.
  int Wait() {
    if (pid_ <= 0) return -1;
    if (!reaped_) {
      while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
      }
      reaped_ = true;
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::string received_;
};

}  // namespace kv_test
