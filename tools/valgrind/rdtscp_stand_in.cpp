// Valgrind cannot execute RDTSCP, which the SIMD library under the image
// decoders (libhwy, loaded with libavcodec) runs once while it is loaded.
// Preloaded under valgrind, this answers that one call instead.
#include <cstdint>

namespace hwy::platform {
uint64_t TimerResolution() {
  return 20;
}
}  // namespace hwy::platform
