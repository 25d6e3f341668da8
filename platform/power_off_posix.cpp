// Power-off through logind over the system D-Bus, else "systemctl poweroff".
#include "platform/power_off.h"

#include <spawn.h>
#include <sys/wait.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace platform {
namespace {

bool AskLogind(std::string* error) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    *error = "no system D-Bus: " + bus.lastError().message().toStdString();
    return false;
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "PowerOff");
  call << false;  // not interactive: no authentication dialog
  const QDBusMessage reply = bus.call(call, QDBus::Block, 25000);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    *error = "logind refused: " + reply.errorMessage().toStdString();
    return false;
  }
  return true;
}

bool RunSystemctl(std::string* error) {
  char program[] = "systemctl";
  char verb[] = "poweroff";
  char* argv[] = {program, verb, nullptr};
  pid_t pid = -1;
  const int spawn_error = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
  if (spawn_error != 0) {
    *error = std::string("cannot start systemctl: ") + std::strerror(spawn_error);
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      *error = "lost systemctl";
      return false;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  *error = "systemctl poweroff failed";
  return false;
}

class RealPowerOff : public PowerOff {
 public:
  bool Request(std::string* error) override {
    std::string logind_error, systemctl_error;
    if (AskLogind(&logind_error)) return true;
    if (RunSystemctl(&systemctl_error)) return true;
    if (error) *error = logind_error + "; " + systemctl_error;
    return false;
  }
};

}  // namespace

Seam<PowerOff>& PowerOffSeam() {
  static RealPowerOff real;
  static Seam<PowerOff> seam(real);
  return seam;
}

}  // namespace platform
