#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace kv_test {

// A D-Bus daemon of the test's own, with python-dbusmock's logind and
// notification daemon on it, standing in for the system's and the desktop's
// services. Both bus addresses of this process point at it, so create it
// before anything in the process has used D-Bus (a test environment's SetUp).
// The daemon and the mocks end with the object, and with the test process.
class MockDesktopBus {
 public:
  MockDesktopBus();
  ~MockDesktopBus();
  MockDesktopBus(const MockDesktopBus&) = delete;
  MockDesktopBus& operator=(const MockDesktopBus&) = delete;

  // Everything started and the services own their names; otherwise `Error`
  // says what is missing.
  bool Ready() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  const std::string& Address() const { return address_; }

  // An inhibitor lock as logind lists it.
  struct Inhibitor {
    std::string what, who, why, mode;
  };
  std::vector<Inhibitor> Inhibitors();

  // A Notify call as the notification daemon received it.
  struct Notified {
    std::string app_name, icon, summary, body;
    int urgency = -1;  // the "urgency" hint, -1 without one
  };
  std::vector<Notified> Notifications();

 private:
  pid_t Spawn(const std::vector<std::string>& argv, int stdout_fd, int stderr_fd);
  // Waits until `name` is owned on the bus; false when the process `owner`
  // that should own it has ended first.
  bool WaitForName(const std::string& name, pid_t owner);

  TempDir dir_{"kv-bus"};
  std::string address_;
  std::string error_;
  int address_pipe_ = -1;
  std::vector<pid_t> children_;
};

}  // namespace kv_test
