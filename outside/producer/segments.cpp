#include "outside/producer/segments.h"

#include <algorithm>

namespace producer {
namespace {

// Joins a last segment shorter than half of `length` to the one before.
void JoinShortTail(std::vector<Segment>* segments, int64_t length) {
  if (segments->size() < 2 || segments->back().Frames() * 2 >= length) return;
  const int64_t end = segments->back().end;
  segments->pop_back();
  segments->back().end = end;
}

}  // namespace

std::vector<Segment> FixedSegments(int64_t frames, int64_t key_interval, int workers) {
  if (frames <= 0) return {};
  key_interval = std::max<int64_t>(1, key_interval);
  if (workers <= 1) return {Segment{0, frames}};
  const int64_t wanted = frames / (static_cast<int64_t>(workers) * kSegmentsPerWorker);
  const int64_t length = key_interval * std::max<int64_t>(1, wanted / key_interval);
  std::vector<Segment> segments;
  for (int64_t first = 0; first < frames; first += length)
    segments.push_back(Segment{first, std::min(frames, first + length)});
  JoinShortTail(&segments, length);
  return segments;
}

std::vector<Segment> AnalysisSegments(int64_t frames, int64_t key_interval, int64_t least,
                                      int workers) {
  if (workers <= 1) return FixedSegments(frames, key_interval, workers);
  const int64_t wanted = frames / (static_cast<int64_t>(workers) * kSegmentsPerWorker);
  return FixedSegments(frames, std::min(key_interval, std::max({int64_t{1}, least, wanted})),
                       workers);
}

std::vector<Segment> SegmentsAtKeys(const std::vector<bool>& keys, int64_t least, int workers) {
  const auto frames = static_cast<int64_t>(keys.size());
  if (frames <= 0) return {};
  if (workers <= 1) return {Segment{0, frames}};
  const int64_t length =
      std::max<int64_t>({1, least, frames / (static_cast<int64_t>(workers) * kSegmentsPerWorker)});
  std::vector<Segment> segments;
  int64_t first = 0;
  while (first < frames) {
    int64_t end = first + length;
    while (end < frames && !keys[static_cast<size_t>(end)]) ++end;
    end = std::min(end, frames);
    segments.push_back(Segment{first, end});
    first = end;
  }
  JoinShortTail(&segments, length);
  return segments;
}

std::vector<double> SegmentShares(const std::vector<Segment>& segments,
                                  const std::vector<double>& planned, double bits) {
  double total = 0;
  for (const double b : planned) total += b;
  int64_t frames = 0;
  for (const Segment& s : segments) frames += s.Frames();
  std::vector<double> shares;
  for (const Segment& s : segments) {
    double share =
        static_cast<double>(s.Frames()) / static_cast<double>(std::max<int64_t>(1, frames));
    if (total > 0) {
      share = 0;
      for (int64_t j = s.first; j < s.end; ++j) share += planned[static_cast<size_t>(j)];
      share /= total;
    }
    shares.push_back(share * bits);
  }
  return shares;
}

double SegmentBudget(double share, double total, double finished_bits, double running_bits,
                     double waiting_shares) {
  if (waiting_shares <= 0) return share;
  const double left = total - finished_bits - running_bits;
  return std::max(0.0, share * left / waiting_shares);
}

}  // namespace producer
