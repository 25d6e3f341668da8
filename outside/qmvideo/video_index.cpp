#include "outside/qmvideo/video_index.h"

namespace qmvideo {

std::vector<FieldPair> DisplayedFrames(const std::vector<uint8_t>& flags) {
  std::vector<FieldPair> shown;
  shown.reserve(flags.size() + flags.size() / 4 + 1);
  // The fields in the order they are shown, paired from the title's first
  // field on: a field waits in `held` for one of the other parity.
  bool holding = false;
  bool held_top = false;
  int32_t held = 0;
  auto field = [&](int32_t frame, bool top) {
    if (holding && held_top != top) {
      shown.push_back(top ? FieldPair{frame, held} : FieldPair{held, frame});
      holding = false;
      return;
    }
    // The first field of a pair, or one that follows a field of its own
    // parity, which is then dropped.
    holding = true;
    held_top = top;
    held = frame;
  };
  for (size_t i = 0; i < flags.size(); ++i) {
    const int32_t n = static_cast<int32_t>(i);
    const bool top_first = flags[i] & kTopFieldFirst;
    field(n, top_first);
    field(n, !top_first);
    if (flags[i] & kRepeatFirstField) field(n, top_first);
  }
  return shown;
}

}  // namespace qmvideo
