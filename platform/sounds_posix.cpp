// System sounds as the desktop's beep.
#include "platform/sounds.h"

#include <QApplication>
#include <QCoreApplication>

namespace platform {
namespace {

class RealSounds : public Sounds {
 public:
  void Play(SystemSound) override {
    // Every kind is the same beep; without a widget application there is none.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::beep();
  }
};

}  // namespace

Seam<Sounds>& SoundsSeam() {
  static RealSounds real;
  static Seam<Sounds> seam(real);
  return seam;
}

}  // namespace platform
