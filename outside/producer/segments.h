#pragma once

#include <cstdint>
#include <vector>

namespace producer {

// A run of frames [first, end) that one worker codes with a codec of its
// own, from a key frame on.
struct Segment {
  int64_t first = 0;
  int64_t end = 0;
  int64_t Frames() const { return end - first; }
  bool operator==(const Segment&) const = default;
};

// Segments a worker count keeps busy: about this many per worker, so that
// a worker that finishes early takes another while a hard one goes on.
inline constexpr int kSegmentsPerWorker = 4;

// The segments of a pass whose key frames fall every `key_interval` frames
// from the start (one pass) or are the codec's choice (the analysis): whole
// multiples of the key interval, so that a segment's first frame is where a
// key frame falls anyway, at least one key interval long; a last one shorter
// than half the others joins the one before. One worker: one segment.
std::vector<Segment> FixedSegments(int64_t frames, int64_t key_interval, int workers);

// The segments of the analysis pass, whose key frames are the codec's choice
// except at segment starts: as FixedSegments, but where whole key intervals
// would leave the workers fewer segments than kSegmentsPerWorker each, they
// are shorter, down to `least` frames. The encoding pass can only start its
// segments on the analysis' key frames, so a volume of a few key intervals
// (30 s with 10-s intervals: three segments for two workers) would otherwise
// leave workers idle in both passes.
std::vector<Segment> AnalysisSegments(int64_t frames, int64_t key_interval, int64_t least,
                                      int workers);

// The segments of a pass whose key frames are planned (`keys`, one flag per
// frame; frame 0 is always a key frame): each starts on a planned key
// frame, the first one at least `least` frames after the segment before
// starts; a last one shorter than half of that joins the one before.
std::vector<Segment> SegmentsAtKeys(const std::vector<bool>& keys, int64_t least, int workers);

// Each segment's share of `bits` by the bits planned for its frames (one
// per frame of the volume); by its frames when nothing is planned.
std::vector<double> SegmentShares(const std::vector<Segment>& segments,
                                  const std::vector<double>& planned, double bits);

// The bits a segment gets when it starts: its share of the plan, scaled so
// that the segments not started yet share what the finished ones left over
// (`total` less what they took) after the running ones take theirs
// (`running_bits`: what they were given).
double SegmentBudget(double share, double total, double finished_bits, double running_bits,
                     double waiting_shares);

}  // namespace producer
