#include "outside/producer/rate_control.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace producer {
namespace {

// The codec's quantiser unit in its statistics (lambda per quantiser step).
constexpr double kLambdaPerQuantizer = 118;
// How much of the complexity shows in the quantiser: 0 is one quantiser
// for all frames, 1 the same bits for all frames.
constexpr double kComplexityShare = 0.5;
// Coefficient bits fall faster than the quantiser grows: more of them
// become zero. Measured on this codec from quantiser 5 to 31 over noisy and
// still pictures, bits ~ q^-1.5.
constexpr double kTextureExponent = 1.5;
// Half-life, in frames, of the correction of the model.
constexpr double kCorrectionHalfLife = 50;
// Frames coded before the correction is trusted in full where a wrong one
// would do harm (leaving frames out).
constexpr double kSettlingFrames = 50;

// The integer after "key:" in `line`; none when it is missing.
std::optional<double> Field(std::string_view line, std::string_view key) {
  size_t at = 0;
  while ((at = line.find(key, at)) != std::string_view::npos) {
    if (at == 0 || line[at - 1] == ' ') break;
    at += key.size();
  }
  if (at == std::string_view::npos) return std::nullopt;
  const std::string number(line.substr(at + key.size(), 24));
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (end == number.c_str() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<FrameStats> ParseFrameStatsLine(std::string_view line) {
  if (line.rfind("in:", 0) != 0) return std::nullopt;
  const auto type = Field(line, "type:");
  const auto q = Field(line, "q:");
  const auto itex = Field(line, "itex:");
  const auto ptex = Field(line, "ptex:");
  const auto mv = Field(line, "mv:");
  const auto misc = Field(line, "misc:");
  if (!type || !q || !itex || !ptex || !mv || !misc) return std::nullopt;
  if (*q <= 0 || *itex < 0 || *ptex < 0 || *mv < 0 || *misc < 0) return std::nullopt;
  FrameStats stats;
  stats.key = *type == 1;  // the codec's number of an intra picture
  stats.quantizer = *q / kLambdaPerQuantizer;
  stats.texture_bits = *itex + *ptex;
  stats.other_bits = *mv + *misc;
  return stats;
}

std::optional<std::vector<FrameStats>> ParseFrameStats(std::string_view text) {
  std::vector<FrameStats> frames;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) continue;
    std::optional<FrameStats> stats = ParseFrameStatsLine(line);
    if (!stats) return std::nullopt;
    frames.push_back(*stats);
  }
  return frames;
}

double AnalysisQuantizer(double video_bits_per_second, int width, int height, double fps) {
  const double bits_per_pixel =
      video_bits_per_second / std::max(1.0, static_cast<double>(width) * height * fps);
  if (bits_per_pixel >= 0.25) return 3;
  if (bits_per_pixel >= 0.12) return 5;
  if (bits_per_pixel >= 0.06) return 8;
  if (bits_per_pixel >= 0.03) return 12;
  return 18;
}

double QualityQuantizer(int quality_percent) {
  const double q = std::clamp(quality_percent, 0, 100);
  return kMinQuantizer + (100 - q) * (kMaxQuantizer - kMinQuantizer) / 100;
}

int QuantizerDither::Next(double wanted) {
  wanted = std::clamp(wanted, kMinQuantizer, kMaxQuantizer);
  const int low = static_cast<int>(std::floor(wanted));
  const int high = std::min(low + 1, static_cast<int>(kMaxQuantizer));
  const double target = 1.0 / wanted + carry_;
  const int chosen = std::abs(target - 1.0 / low) <= std::abs(target - 1.0 / high) ? low : high;
  const double span = 1.0 / low - 1.0 / high;
  carry_ = std::clamp(target - 1.0 / chosen, -span, span);
  return chosen;
}

TwoPassRateControl::TwoPassRateControl(std::vector<FrameStats> frames, double least_frame_bits)
    : frames_(std::move(frames)), least_frame_bits_(least_frame_bits) {
  const size_t n = frames_.size();
  double mean = 0;
  for (const FrameStats& f : frames_) mean += f.texture_bits * f.quantizer;
  mean = n ? mean / static_cast<double>(n) : 0;
  weight_.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const FrameStats& f = frames_[i];
    const double relative = mean > 0 ? std::max(f.texture_bits * f.quantizer / mean, 0.01) : 1;
    weight_[i] = std::pow(relative, kComplexityShare) * (f.key ? kKeyFrameQuantizerFactor : 1);
  }
  scaled_tail_.assign(n + 1, 0);
  other_tail_.assign(n + 1, 0);
  texture_tail_.assign(n + 1, 0);
  least_tail_.assign(n + 1, 0);
  for (size_t i = n; i-- > 0;) {
    const double complexity =
        frames_[i].texture_bits * std::pow(frames_[i].quantizer, kTextureExponent);
    scaled_tail_[i] = scaled_tail_[i + 1] + complexity / std::pow(weight_[i], kTextureExponent);
    other_tail_[i] = other_tail_[i + 1] + frames_[i].other_bits;
    texture_tail_[i] = texture_tail_[i + 1] + complexity;
    least_tail_[i] = least_tail_[i + 1] + PredictedBits(i, kMaxQuantizer);
  }
}

double TwoPassRateControl::PredictedBits(size_t i, double q, double correction) const {
  const FrameStats& f = frames_[i];
  const double scaled = f.other_bits + f.texture_bits * std::pow(f.quantizer / q, kTextureExponent);
  return std::max(least_frame_bits_, scaled * correction);
}

double TwoPassRateControl::LeastBitsFrom(size_t i) const {
  i = std::min(i, frames_.size());
  return least_tail_[i];
}

double TwoPassRateControl::ClosedFormScale(size_t i, double bits_left, double correction) const {
  // correction * (other + scaled / s) = bits_left, solved for the scale s.
  const double for_texture = bits_left / correction - other_tail_[i];
  if (for_texture <= 0) return -1;
  return std::pow(scaled_tail_[i] / for_texture, 1 / kTextureExponent);
}

double TwoPassRateControl::ExactScale(size_t i, double bits_left, double correction) const {
  auto bits_at = [&](double scale) {
    double bits = 0;
    for (size_t j = i; j < frames_.size(); ++j)
      bits += PredictedBits(j, std::clamp(scale * weight_[j], kMinQuantizer, kMaxQuantizer),
                            correction);
    return bits;
  };
  double low = 1e-6, high = 1e6;
  if (bits_at(high) >= bits_left) return -1;
  for (int step = 0; step < 60; ++step) {
    const double middle = std::sqrt(low * high);
    (bits_at(middle) > bits_left ? low : high) = middle;
  }
  return high;
}

double TwoPassRateControl::Quantizer(size_t i, double bits_left) {
  if (i >= frames_.size()) return kMaxQuantizer;
  const double correction = predicted_ > 0 ? actual_ / predicted_ : 1.0;
  const double closed = ClosedFormScale(i, bits_left, correction);
  if (closed <= 0) return kMaxQuantizer;
  if (i >= next_exact_solve_) {
    if (next_exact_solve_ == 0) exact_solve_interval_ = std::max<size_t>(64, frames_.size() / 500);
    next_exact_solve_ = i + exact_solve_interval_;
    const double exact = ExactScale(i, bits_left, correction);
    limit_gain_ = exact > 0 ? exact / closed : 1;
  }
  return std::clamp(closed * limit_gain_ * weight_[i], kMinQuantizer, kMaxQuantizer);
}

double TwoPassRateControl::SettledCorrection() const {
  const double weight = std::min(1.0, static_cast<double>(frames_done_) / kSettlingFrames);
  return 1 + (std::clamp(Correction(), 0.5, 2.0) - 1) * weight;
}

void TwoPassRateControl::FrameDone(size_t i, double quantizer, double bits) {
  if (i >= frames_.size() || quantizer <= 0) return;
  ++frames_done_;
  const double keep = std::pow(0.5, 1.0 / kCorrectionHalfLife);
  actual_ = actual_ * keep + bits;
  predicted_ = predicted_ * keep + PredictedBits(i, quantizer);
}

void TwoPassRateControl::SeedCorrection(double ratio, double frame_bits) {
  if (!(ratio > 0) || !(frame_bits > 0)) return;
  // The decayed sums of a steady run: a half-life's worth of frames,
  // weighted 1 / ln 2.
  predicted_ = frame_bits * kCorrectionHalfLife / std::log(2.0);
  actual_ = predicted_ * ratio;
  frames_done_ = static_cast<int64_t>(kSettlingFrames);
}

std::vector<double> TwoPassRateControl::PlannedBits(double bits) const {
  std::vector<double> planned(frames_.size());
  const double scale = ExactScale(0, bits, 1.0);
  for (size_t j = 0; j < frames_.size(); ++j)
    planned[j] =
        PredictedBits(j, scale > 0 ? std::clamp(scale * weight_[j], kMinQuantizer, kMaxQuantizer)
                                   : kMaxQuantizer);
  return planned;
}

double OnePassRateControl::Quantizer(bool key, double bits_left, int64_t frames_left) const {
  if (frames_left <= 0 || bits_left <= 0) return kMaxQuantizer;
  if (p_complexity_ <= 0) return last_p_quantizer_ * (key ? kKeyFrameQuantizerFactor : 1);
  const double per_frame = bits_left / static_cast<double>(frames_left);
  if (key)
    return std::clamp(last_p_quantizer_ * kKeyFrameQuantizerFactor, kMinQuantizer, kMaxQuantizer);
  return std::clamp(std::pow(p_complexity_ / per_frame, 1 / kTextureExponent), kMinQuantizer,
                    kMaxQuantizer);
}

void OnePassRateControl::FrameDone(bool key, double quantizer, double bits) {
  const double complexity = bits * std::pow(quantizer, kTextureExponent);
  double& estimate = key ? key_complexity_ : p_complexity_;
  // A key frame says little about the frames after it: it only seeds, and
  // the first frame that is no key frame replaces the guess (on grain or
  // noise it costs as much as the key frame: easing in from the guess spent
  // several frames' bits on each of the frames after it).
  if (key && p_complexity_ <= 0) p_complexity_ = complexity * 0.3;
  const bool first = key ? estimate <= 0 : !p_seen_;
  estimate = first ? complexity : estimate * 0.9 + complexity * 0.1;
  if (!key) {
    p_seen_ = true;
    last_p_quantizer_ = quantizer;
  }
}

void FrameCostModel::FrameDone(bool key, double quantizer, double bits) {
  const double complexity = bits * std::pow(quantizer, kTextureExponent);
  double& estimate = key ? key_ : p_;
  estimate = estimate <= 0 ? complexity : estimate * 0.8 + complexity * 0.2;
}

double FrameCostModel::Bits(bool key, double quantizer) const {
  const double complexity = key ? (key_ > 0 ? key_ : p_ / 0.3) : p_;
  return complexity / std::pow(quantizer, kTextureExponent);
}

PeakLimit::PeakLimit(int64_t window_frames, double window_bits)
    : window_frames_(static_cast<size_t>(std::max<int64_t>(1, window_frames))),
      window_bits_(window_bits) {}

double PeakLimit::AllowedBits() const {
  return window_bits_ - recent_sum_;
}

void PeakLimit::FrameDone(double bits) {
  recent_.push_back(bits);
  recent_sum_ += bits;
  while (recent_.size() >= window_frames_) {
    recent_sum_ -= recent_.front();
    recent_.pop_front();
  }
}

}  // namespace producer
