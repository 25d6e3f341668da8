// Sleep inhibition through logind's inhibitor locks on the system D-Bus.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QVariant>

#include "platform/sleep_inhibitor.h"

namespace platform {
namespace {

// logind answers at once; a bus that hangs must not hold the program long.
constexpr int kCallTimeoutMs = 2000;

// logind keeps the lock while any copy of this descriptor is open.
class LogindLock : public SleepLock {
 public:
  explicit LogindLock(QDBusUnixFileDescriptor descriptor) : descriptor_(std::move(descriptor)) {}

 private:
  QDBusUnixFileDescriptor descriptor_;
};

class LogindInhibitor : public SleepInhibitor {
 public:
  std::unique_ptr<SleepLock> Inhibit(const std::string& reason) override {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return nullptr;
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit");
    // "block": sleeping waits until the lock goes, rather than a short delay.
    call << QStringLiteral("sleep:idle") << QStringLiteral("Kestrevane")
         << QString::fromStdString(reason) << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return nullptr;
    const auto descriptor = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
    if (!descriptor.isValid()) return nullptr;
    return std::make_unique<LogindLock>(descriptor);
  }
};

}  // namespace

Seam<SleepInhibitor>& SleepInhibitorSeam() {
  static LogindInhibitor real;
  static Seam<SleepInhibitor> seam(real);
  return seam;
}

}  // namespace platform
