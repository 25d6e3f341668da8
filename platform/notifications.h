#pragma once

#include <string>

#include "platform/seam.h"

namespace platform {

// A passing message on the desktop: a title line and the text under it.
// `failure` marks news the user must not miss (it stays until dismissed).
struct Notification {
  std::string summary;
  std::string body;
  bool failure = false;
};

// The desktop's notifications (org.freedesktop.Notifications on the session
// bus). Nothing happens where no desktop shows them. Tests replace it with a
// recorder.
class Notifications {
 public:
  virtual ~Notifications() = default;
  // Hands the message over without waiting for the desktop.
  virtual void Notify(const Notification& notification) = 0;
};

Seam<Notifications>& NotificationsSeam();
inline Notifications& TheNotifications() {
  return NotificationsSeam().Current();
}

}  // namespace platform
