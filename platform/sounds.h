#pragma once

#include "platform/seam.h"

namespace platform {

enum class SystemSound { Beep, Default, Exclamation, Error };

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
