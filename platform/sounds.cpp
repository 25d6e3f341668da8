// The sounds seam. Without windows there is no beep; a program with windows
// installs the desktop's (UseWindowDialogs).
#include "platform/sounds.h"

namespace platform {
namespace {

class Silence : public Sounds {
 public:
  void Play(SystemSound) override {}
};

}  // namespace

Seam<Sounds>& SoundsSeam() {
  static Silence real;
  static Seam<Sounds> seam(real);
  return seam;
}

}  // namespace platform
