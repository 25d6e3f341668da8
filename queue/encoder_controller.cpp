#include "queue/encoder_controller.h"

#include "queue/encoder_control.h"

namespace queue {

std::unique_ptr<EncoderController> MakeEncoderController() {
  return std::make_unique<TKVNEncoder>();
}

}  // namespace queue
