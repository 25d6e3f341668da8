#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

namespace producer {

// Quantiser limits of the video codec.
inline constexpr double kMinQuantizer = 2;
inline constexpr double kMaxQuantizer = 31;
// Key frames are coded finer than the frames around them.
inline constexpr double kKeyFrameQuantizerFactor = 0.8;

// A coded frame takes at least about this many bits per macroblock (its
// type, or its skip flag, and its share of the headers), however still the
// picture: quiet frames at the coarsest quantiser cost that, not what the
// analysis pass's costs scaled by the quantiser say.
inline constexpr double kLeastBitsPerMacroblock = 2.5;

// One frame of the analysis pass, coded at a constant quantiser: the bits
// that scale with the quantiser (the coefficients) and those that do not
// (headers, motion vectors).
struct FrameStats {
  bool key = false;
  double quantizer = 0;
  double texture_bits = 0;
  double other_bits = 0;
};

// The codec's statistics line of one frame ("in:.. out:.. type:.. q:..
// itex:.. ptex:.. mv:.. misc:.. ..;"); none when it is not one.
std::optional<FrameStats> ParseFrameStatsLine(std::string_view line);

// The whole statistics text of a pass, in coding order. Lines that are no
// statistics lines make it fail.
std::optional<std::vector<FrameStats>> ParseFrameStats(std::string_view text);

// The quantiser of the analysis pass for a bit rate, from the bits per
// pixel it leaves: the model is most exact near the quantiser that the
// second pass will use.
double AnalysisQuantizer(double video_bits_per_second, int width, int height, double fps);

// The quantiser of constant-quality encoding: 100 % is the finest.
double QualityQuantizer(int quality_percent);

// Chooses whole quantisers whose mean of 1 / q follows wanted fractional
// ones, by carrying the remainder from frame to frame.
class QuantizerDither {
 public:
  int Next(double wanted);

 private:
  double carry_ = 0;
};

// Rate control of the second pass. The analysis pass says what every frame
// costs at its quantiser; the plan gives each frame a quantiser that grows
// with the frame's complexity (complex frames are coded coarser, by the
// square root, so that the bits follow the picture without starving quiet
// scenes). Before each frame the scale of all quantisers still to come is
// solved again from the bits that are left, and the model is corrected by
// the ratio of the bits the frames really took to the bits it predicted.
class TwoPassRateControl {
 public:
  // No frame is predicted to take fewer than `least_frame_bits`.
  explicit TwoPassRateControl(std::vector<FrameStats> frames, double least_frame_bits = 0);

  size_t FrameCount() const { return frames_.size(); }
  bool IsKey(size_t i) const { return frames_[i].key; }

  // The bits frames i.. need at the coarsest quantiser by the model: the
  // least they can be made to take.
  double LeastBitsFrom(size_t i) const;

  // The quantiser of frame i when `bits_left` must cover frames i.. .
  double Quantizer(size_t i, double bits_left);

  // Frame i was coded with `quantizer` and took `bits`.
  void FrameDone(size_t i, double quantizer, double bits);
  // Starts the correction of the model at `ratio` (real bits to predicted
  // ones, learned elsewhere), trusted as if a steady run of frames of
  // `frame_bits` had shown it.
  void SeedCorrection(double ratio, double frame_bits);

  // The bits every frame takes by the model when `bits` cover all frames,
  // spent at one scale of the quantisers (the coarsest for all when even
  // that is too much).
  std::vector<double> PlannedBits(double bits) const;

  // The model's bits of frame i at quantiser q, its costs scaled by
  // `correction`, and never fewer than the least bits of a frame.
  double PredictedBits(size_t i, double q, double correction = 1) const;
  // The same, corrected by what the frames coded so far really took (eased in).
  double CorrectedBits(size_t i, double q) const {
    return PredictedBits(i, q, SettledCorrection());
  }
  double Correction() const { return predicted_ > 0 ? actual_ / predicted_ : 1.0; }
  // The correction within [0.5, 2], eased in over the first frames coded.
  double SettledCorrection() const;

 private:
  std::vector<FrameStats> frames_;
  double least_frame_bits_ = 0;
  std::vector<double> least_tail_;    // sum over j >= i of the least bits of frame j
  std::vector<double> weight_;        // quantiser of frame i at scale 1
  std::vector<double> scaled_tail_;   // sum over j >= i of texture_j q1_j / weight_j
  std::vector<double> other_tail_;    // sum over j >= i of other_bits_j
  std::vector<double> texture_tail_;  // sum over j >= i of texture_j q1_j
  // Decayed sums of real and predicted bits: their ratio corrects the model.
  double actual_ = 0;
  double predicted_ = 0;
  int64_t frames_done_ = 0;
  // The closed-form scale ignores that quantisers stop at their limits;
  // now and then the scale is solved with the limits, and their ratio is
  // kept for the frames in between.
  double limit_gain_ = 1;
  size_t next_exact_solve_ = 0;
  size_t exact_solve_interval_ = 256;
  double ClosedFormScale(size_t i, double bits_left, double correction) const;
  double ExactScale(size_t i, double bits_left, double correction) const;
};

// Rate control of a single pass at a bit rate: the cost of a frame is
// learned from the frames before it.
class OnePassRateControl {
 public:
  // `first_quantizer` is the guess for the first frame.
  explicit OnePassRateControl(double first_quantizer) : last_p_quantizer_(first_quantizer) {}

  // The quantiser of the next frame when `bits_left` must cover
  // `frames_left` frames, the next one included.
  double Quantizer(bool key, double bits_left, int64_t frames_left) const;
  void FrameDone(bool key, double quantizer, double bits);

 private:
  double p_complexity_ = 0;  // bits times quantiser of a typical frame; 0 until known
  bool p_seen_ = false;      // false: p_complexity_ is only guessed from a key frame
  double key_complexity_ = 0;
  double last_p_quantizer_;
};

// What the last coded frames say a frame costs at a quantiser: bits times
// q^1.5 of the last frame of each kind. Nothing is known before the first.
class FrameCostModel {
 public:
  void FrameDone(bool key, double quantizer, double bits);
  bool Known(bool key) const { return (key ? key_ : p_) > 0; }
  // The bits of a frame of that kind at `quantizer`; 0 when unknown.
  double Bits(bool key, double quantizer) const;

 private:
  double key_ = 0;
  double p_ = 0;
};

// The least quantiser that keeps the next frame's predicted bits within
// `allowed_bits`: `wanted` when it already does, at most kMaxQuantizer.
// `predict` gives the bits at a quantiser.
template <typename Predict>
double QuantizerWithin(double wanted, double allowed_bits, const Predict& predict) {
  double q = wanted;
  while (q < kMaxQuantizer && predict(q) > allowed_bits) q = std::min(kMaxQuantizer, q + 0.5);
  return q;
}

// The peak a player's buffer relies on: the video bits of any `window`
// frames stay within `window_bits`. Gives the bits the next frame may take.
class PeakLimit {
 public:
  // No limit when `window_bits` <= 0.
  PeakLimit(int64_t window_frames, double window_bits);
  bool Active() const { return window_bits_ > 0; }
  double AllowedBits() const;
  void FrameDone(double bits);

 private:
  size_t window_frames_;
  double window_bits_;
  std::deque<double> recent_;
  double recent_sum_ = 0;
};

}  // namespace producer
