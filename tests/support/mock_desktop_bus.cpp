#include "tests/support/mock_desktop_bus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#ifndef KV_SYSTEM_PYTHON
#define KV_SYSTEM_PYTHON "/usr/bin/python3"
#endif

namespace kv_test {
namespace {

using namespace std::chrono_literals;

constexpr char kConnectionName[] = "kv-test-mock-bus";

// Accepts everything: the bus serves this test alone.
constexpr char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@DIR@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// The first line a descriptor gives, without its line end; empty when the
// writer ends first.
std::string ReadLine(int fd) {
  std::string line;
  while (line.find('\n') == std::string::npos) {
    char bytes[256];
    const ssize_t got = ::read(fd, bytes, sizeof bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return "";
    line.append(bytes, static_cast<size_t>(got));
  }
  return line.substr(0, line.find('\n'));
}

QDBusConnection TestConnection(const std::string& address) {
  return QDBusConnection::connectToBus(QString::fromStdString(address),
                                       QLatin1String(kConnectionName));
}

}  // namespace

MockDesktopBus::MockDesktopBus() {
  std::string config = kBusConfig;
  config.replace(config.find("@DIR@"), 5, dir_.Path());
  WriteFile(dir_.File("bus.conf"), config);

  // What the daemon and the mocks say goes to a log; only the daemon's
  // address comes through a pipe, which stays open while the daemon lives (a
  // closed one would end it with SIGPIPE at its next word).
  const int log = ::open(dir_.File("bus.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  int out[2];
  if (log < 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    error_ = "no log or pipe";
    if (log >= 0) ::close(log);
    return;
  }
  address_pipe_ = out[0];
  Spawn({"dbus-daemon", "--config-file=" + dir_.File("bus.conf"), "--nofork", "--print-address"},
        out[1], log);
  ::close(out[1]);
  address_ = ReadLine(address_pipe_);
  if (address_.empty()) {
    ::close(log);
    error_ = "dbus-daemon did not start (is it installed?): " + ReadFile(dir_.File("bus.log"));
    return;
  }
  // The system's and the desktop's bus are this one, for the program's code
  // and for the mocks started below.
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);

  const std::pair<const char*, pid_t> services[] = {
      {"org.freedesktop.login1",
       Spawn({KV_SYSTEM_PYTHON, "-m", "dbusmock", "--template", "logind"}, log, log)},
      {"org.freedesktop.Notifications",
       Spawn({KV_SYSTEM_PYTHON, "-m", "dbusmock", "--template", "notification_daemon"}, log, log)}};
  ::close(log);
  for (const auto& [name, owner] : services) {
    if (!WaitForName(name, owner)) {
      error_ = std::string(name) + " did not appear on the bus (is python3-dbusmock installed?): " +
               ReadFile(dir_.File("bus.log"));
      return;
    }
  }
}

MockDesktopBus::~MockDesktopBus() {
  QDBusConnection::disconnectFromBus(QLatin1String(kConnectionName));
  for (pid_t pid : children_) ::kill(pid, SIGTERM);
  // The daemon and the mocks end at SIGTERM; one that hangs instead is ended
  // by ctest's time-out, and then by its parent-death signal.
  for (pid_t pid : children_) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  if (address_pipe_ >= 0) ::close(address_pipe_);
}

pid_t MockDesktopBus::Spawn(const std::vector<std::string>& argv, int stdout_fd, int stderr_fd) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Ends with the test process, however that ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(127);
    ::dup2(stdout_fd, STDOUT_FILENO);
    ::dup2(stderr_fd, STDERR_FILENO);
    ::execvp(args[0], args.data());
    _exit(127);
  }
  if (pid > 0) children_.push_back(pid);
  return pid;
}

bool MockDesktopBus::WaitForName(const std::string& name, pid_t owner) {
  for (;;) {
    QDBusConnection bus = TestConnection(address_);
    if (bus.isConnected() &&
        bus.interface()->isServiceRegistered(QString::fromStdString(name)).value())
      return true;
    if (owner <= 0) return false;
    if (::waitpid(owner, nullptr, WNOHANG) != 0) {
      std::erase(children_, owner);  // reaped: its number may be given again
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
}

std::vector<MockDesktopBus::Inhibitor> MockDesktopBus::Inhibitors() {
  std::vector<Inhibitor> result;
  const QDBusMessage reply = TestConnection(address_).call(
      QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "ListInhibitors"));
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return result;
  const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
  list.beginArray();
  while (!list.atEnd()) {
    QString what, who, why, mode;
    uint uid = 0, pid = 0;
    list.beginStructure();
    list >> what >> who >> why >> mode >> uid >> pid;
    list.endStructure();
    result.push_back(
        {what.toStdString(), who.toStdString(), why.toStdString(), mode.toStdString()});
  }
  list.endArray();
  return result;
}

std::vector<MockDesktopBus::Notified> MockDesktopBus::Notifications() {
  std::vector<Notified> result;
  const QDBusMessage reply = TestConnection(address_).call(QDBusMessage::createMethodCall(
      "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
      "org.freedesktop.DBus.Mock", "GetCalls"));
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return result;
  const QDBusArgument calls = reply.arguments().first().value<QDBusArgument>();
  calls.beginArray();
  while (!calls.atEnd()) {
    qulonglong time = 0;
    QString method;
    QVariantList args;
    calls.beginStructure();
    calls >> time >> method;
    calls.beginArray();
    while (!calls.atEnd()) {
      QDBusVariant arg;
      calls >> arg;
      args << arg.variant();
    }
    calls.endArray();
    calls.endStructure();
    if (method != QLatin1String("Notify") || args.size() < 8) continue;
    Notified notified{args[0].toString().toStdString(), args[2].toString().toStdString(),
                      args[3].toString().toStdString(), args[4].toString().toStdString()};
    QVariantMap hints;
    args[6].value<QDBusArgument>() >> hints;
    if (hints.contains(QStringLiteral("urgency")))
      notified.urgency = hints.value(QStringLiteral("urgency")).toInt();
    result.push_back(notified);
  }
  calls.endArray();
  return result;
}

}  // namespace kv_test
