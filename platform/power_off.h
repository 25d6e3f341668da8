#pragma once

#include <string>

#include "platform/seam.h"

namespace platform {

// Switches the computer off: logind's PowerOff over D-Bus, else
// "systemctl poweroff". Tests replace it with a recorder.
class PowerOff {
 public:
  virtual ~PowerOff() = default;
  // True when the request was accepted; `error` receives the reason otherwise.
  virtual bool Request(std::string* error) = 0;
};

Seam<PowerOff>& PowerOffSeam();
inline PowerOff& ThePowerOff() {
  return PowerOffSeam().Current();
}

}  // namespace platform
