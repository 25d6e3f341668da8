// The title rebuild. Until it is built, every call reports failure, so that
// a caller never takes missing files for a prepared title.
#include "tessmar/include/tessmar.h"

extern "C" uint8_t qmRebuild(const char* /*vtsBase*/, const char* /*ifoPath*/,
                             const char* /*titleBase*/, int32_t /*wantVideo*/,
                             int32_t /*wantAudio*/, int32_t /*wantSubpictures*/, int32_t /*pgc*/,
                             int32_t /*angle*/) {
  return 0;
}
