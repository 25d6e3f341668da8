#include "outside/qmvideo/video_index.h"

namespace qmvideo {

std::vector<FieldPair> DisplayedFrames(const std::vector<uint8_t>& flags) {
  std::vector<FieldPair> shown;
  shown.reserve(flags.size() + flags.size() / 4 + 1);
  // Fields pair into frames from the stream's first field on: a stream that
  // starts bottom field first pairs each bottom field with the top field
  // after it, so its frames without repeated fields are its coded frames.
  const bool bottom_first = !flags.empty() && !(flags[0] & kTopFieldFirst);
  // state 0: the next field starts a frame; 1: a first field waits for its
  // second field, held in `held` (the coded frame it came from).
  int state = 0;
  int32_t held = 0;
  for (size_t i = 0; i < flags.size(); ++i) {
    const int32_t n = static_cast<int32_t>(i);
    const bool first_parity_first = ((flags[i] & kTopFieldFirst) != 0) != bottom_first;
    const bool rff = flags[i] & kRepeatFirstField;
    if ((state == 0 && !first_parity_first) || (state == 1 && first_parity_first)) state ^= 1;
    if (state == 0) {
      shown.push_back({n, n});
      if (rff) {
        held = n;
        state = 1;
      }
    } else {
      shown.push_back(bottom_first ? FieldPair{n, held} : FieldPair{held, n});
      if (rff) {
        shown.push_back({n, n});
        state = 0;
      } else {
        held = n;
      }
    }
  }
  return shown;
}

}  // namespace qmvideo
