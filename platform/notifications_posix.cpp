// Desktop notifications through org.freedesktop.Notifications on the session
// D-Bus.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

#include "platform/notifications.h"

namespace platform {
namespace {

constexpr unsigned char kUrgencyNormal = 1;
constexpr unsigned char kUrgencyCritical = 2;

class DesktopNotifications : public Notifications {
 public:
  void Notify(const Notification& notification) override {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    QVariantMap hints;
    // The desktop finds the program's name and icon through its menu entry.
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kestrevane"));
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue(notification.failure ? kUrgencyCritical : kUrgencyNormal));
    call << QStringLiteral("Kestrevane") << 0u << QStringLiteral("kestrevane")
         << QString::fromStdString(notification.summary)
         << QString::fromStdString(notification.body) << QStringList() << hints
         << -1;  // the desktop's own display time
    // Nobody waits for the answer: a desktop without notifications changes
    // nothing for the program.
    bus.asyncCall(call);
  }
};

}  // namespace

Seam<Notifications>& NotificationsSeam() {
  static DesktopNotifications real;
  static Seam<Notifications> seam(real);
  return seam;
}

}  // namespace platform
