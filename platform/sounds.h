#pragma once

#include "platform/seam.h"

namespace platform {

enum class SystemSound { Beep, Default, Exclamation, Error };

// Without windows there is no sound; a program with windows installs the
// desktop's beep (platform/window_dialogs.h).
class Sounds {
 public:
  virtual ~Sounds() = default;
  virtual void Play(SystemSound sound) = 0;
};

Seam<Sounds>& SoundsSeam();
inline Sounds& TheSounds() {
  return SoundsSeam().Current();
}

}  // namespace platform
