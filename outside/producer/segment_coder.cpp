#include "outside/producer/segment_coder.h"

#include <algorithm>
#include <cmath>

#include "outside/producer/console.h"
#include "outside/producer/rm_output.h"

namespace producer {
namespace {

// A frame whose predicted size passes this share of the largest frame the
// file's packets hold is coded coarser.
constexpr double kFrameGuardShare = 0.75;
// Frames coded at the coarsest quantiser before the smallest of them says
// what the frames after them need at least.
constexpr int64_t kCoarsestFramesForALeast = 4;
// Bits for each frame left, as a multiple of what a frame takes at the
// coarsest quantiser, that end the leaving out of frames.
constexpr double kAmpleShare = 2;

}  // namespace

void RunWarnings::Say(Kind kind, const std::string& text) {
  if (!said_[kind].exchange(true)) Print(WarningLine(text));
}

SegmentCoder::SegmentCoder(const EncodingSettings& settings, SegmentStart start,
                           RunWarnings& warnings)
    : settings_(settings), start_(std::move(start)), warnings_(warnings), cost_(start_.cost) {}

bool SegmentCoder::Open(std::string* error) {
  video_ = VideoEncoder::Open(settings_.codec, error);
  if (!video_) return false;
  const Segment& r = start_.range;
  if (settings_.mode == RateMode::kTwoPass) {
    const auto& all = *settings_.stats;
    plan_ = std::make_unique<TwoPassRateControl>(
        std::vector<FrameStats>(all.begin() + r.first, all.begin() + r.end),
        settings_.least_frame_bits);
    if (start_.correction > 0)
      plan_->SeedCorrection(
          start_.correction,
          start_.budget_bits / static_cast<double>(std::max<int64_t>(1, r.Frames())));
  } else if (settings_.mode == RateMode::kOnePass) {
    one_pass_ = start_.one_pass ? *start_.one_pass : OnePassRateControl(settings_.first_quantizer);
  }
  if (settings_.peak_bits > 0) {
    peak_.emplace(settings_.peak_window, settings_.peak_bits);
    for (const double bits : start_.peak_seed) peak_->FrameDone(bits);
  }
  return true;
}

bool SegmentCoder::Code(int64_t i, AVFrame* picture, std::vector<CodedFrame>* out,
                        std::string* error) {
  const size_t n = static_cast<size_t>(i - start_.range.first);
  const bool planned_key = plan_ && plan_->IsKey(n) && !starved_;
  const bool key = n == 0 || force_key_ || since_key_ >= settings_.key_interval || planned_key;
  const std::optional<double> q = ChooseQuantizer(i, key);
  if (!q) {
    // Left out: the picture before it stays on screen a frame longer.
    ++result_.dropped;
    force_key_ = force_key_ || key;
    out->push_back(CodedFrame{i, {}, false});
    warnings_.Say(RunWarnings::kDropped,
                  "avgBitrate " + std::to_string(settings_.average_bitrate) +
                      " bit/s cannot hold every frame even at the coarsest quantiser: frames are "
                      "left out from frame " +
                      std::to_string(i) + " on");
    return true;
  }
  return CodeFrame(i, picture, dither_.Next(*q), key, out, error);
}

std::optional<double> SegmentCoder::ChooseQuantizer(int64_t i, bool key) {
  const size_t n = static_cast<size_t>(i - start_.range.first);
  const bool known = plan_ || cost_.Known(key) || cost_.Known(false);
  auto predict = [&](double q) { return plan_ ? plan_->CorrectedBits(n, q) : cost_.Bits(key, q); };
  double q = QualityQuantizer(settings_.quality);
  const double bits_left = start_.budget_bits - result_.bits;
  if (BitrateMode())
    q = plan_ ? plan_->Quantizer(n, bits_left)
              : one_pass_->Quantizer(key, bits_left, start_.range.end - i);
  // Once frames are left out, the bits they leave are no room for finer
  // frames (the next one took more than all that was left): the coarsest
  // quantiser stays until the frames left have ample bits again.
  const double share = bits_left / static_cast<double>(start_.range.end - i);
  if (leaving_out_ && known && share >= kAmpleShare * cost_.Bits(key, kMaxQuantizer))
    leaving_out_ = false;
  if (leaving_out_) q = kMaxQuantizer;
  const double wanted = q;
  if (known) {
    q = QuantizerWithin(q, kMaxVideoFrameBytes * 8.0 * kFrameGuardShare, predict);
    if (q > wanted && !BitrateMode())
      warnings_.Say(RunWarnings::kTooLarge,
                    "frames of this clip at quality " + std::to_string(settings_.quality) +
                        " are larger than the file's packets hold: they are coded coarser");
    if (peak_) q = QuantizerWithin(q, peak_->AllowedBits() - 8.0 * kVideoPacketOverhead, predict);
  }
  // The rest is the last resort of a budget the rate control cannot keep
  // even at its coarsest quantiser.
  if (!BitrateMode() || !known || wanted < kMaxQuantizer) return q;
  // Keep the budget: the frames after this one need at least the bits of the
  // smallest frame coded at the coarsest quantiser so far (models are no
  // guide here: a still picture at the coarsest quantiser costs next to
  // nothing); one pass counts it once a few were (the first frame after
  // finer ones costs more than those that follow). In the last segment this
  // frame may take the most such a frame took, as nothing takes back what
  // it spends beyond (on grain, frames at the coarsest quantiser differ by
  // half); the segments after the others take back what they spend.
  const bool one_pass = settings_.mode == RateMode::kOnePass;
  const double least_after = !one_pass || coarsest_frames_ >= kCoarsestFramesForALeast
                                 ? smallest_coarsest_bits_
                                 : settings_.least_frame_bits;
  const double reserve = static_cast<double>(start_.range.end - i - 1) * least_after;
  const double most_here =
      std::max(cost_.Bits(key, kMaxQuantizer), start_.last && !key ? largest_coarsest_bits_ : 0.0);
  if (most_here <= bits_left + start_.slack_bits - reserve) return q;
  starved_ = true;
  warnings_.Say(RunWarnings::kStarved,
                "avgBitrate " + std::to_string(settings_.average_bitrate) +
                    " bit/s is too tight for this clip at the coarsest quantiser: key frames "
                    "are placed only every maxKeyFrameInterval from frame " +
                    std::to_string(i) + " on");
  // A segment's first frame is coded: the segments after it start from it.
  if (n == 0) return q;
  leaving_out_ = true;
  return std::nullopt;
}

bool SegmentCoder::CodeFrame(int64_t i, AVFrame* picture, int quantizer, bool key,
                             std::vector<CodedFrame>* out, std::string* error) {
  coded_.clear();
  if (!video_->Encode(picture, quantizer, key, &coded_, error)) return false;
  // A frame the file's packets cannot hold is coded again as a key frame
  // (which needs no reference the decoder lacks) at a coarser quantiser.
  while (coded_.size() == 1 && coded_[0].bytes.size() > kMaxVideoFrameBytes) {
    const double over = static_cast<double>(coded_[0].bytes.size()) / kMaxVideoFrameBytes;
    const int coarser = std::min(
        static_cast<int>(kMaxQuantizer),
        std::max(quantizer + 1, static_cast<int>(std::ceil(quantizer * std::pow(over, 1 / 1.5)))));
    if (quantizer >= kMaxQuantizer) {
      *error = "frame " + std::to_string(i) + " takes " + std::to_string(coded_[0].bytes.size()) +
               " bytes even at the coarsest quantiser, more than the file's packets hold";
      return false;
    }
    warnings_.Say(RunWarnings::kRecoded,
                  "frame " + std::to_string(i) + " took " + std::to_string(coded_[0].bytes.size()) +
                      " bytes at quantiser " + std::to_string(quantizer) +
                      ", more than the file's packets hold: such frames are coded again coarser");
    if (!recoding_) ++result_.recoded;
    recoding_ = true;
    quantizer = coarser;
    key = true;
    coded_.clear();
    if (!video_->Encode(picture, quantizer, key, &coded_, error)) return false;
  }
  recoding_ = false;
  const size_t n = static_cast<size_t>(i - start_.range.first);
  for (VideoEncoder::Coded& c : coded_) {
    const double bits = static_cast<double>(c.bytes.size()) * 8.0;
    result_.bits += bits;
    if (plan_) {
      result_.predicted_bits += plan_->PredictedBits(n, quantizer);
      plan_->FrameDone(n, quantizer, bits);
    }
    if (one_pass_) one_pass_->FrameDone(c.key, quantizer, bits);
    cost_.FrameDone(c.key, quantizer, bits);
    if (!c.key && quantizer >= kMaxQuantizer) {
      smallest_coarsest_bits_ =
          coarsest_frames_ > 0 ? std::min(smallest_coarsest_bits_, bits) : bits;
      largest_coarsest_bits_ = std::max(largest_coarsest_bits_, bits);
      ++coarsest_frames_;
    }
    if (peak_) peak_->FrameDone(bits + 8.0 * kVideoPacketOverhead);
    if (c.key) ++result_.key_frames;
    since_key_ = c.key ? 1 : since_key_ + 1;
    force_key_ = false;
    out->push_back(CodedFrame{i, std::move(c.bytes), c.key});
  }
  return true;
}

bool SegmentCoder::Finish(std::string* error) {
  coded_.clear();
  if (!video_->Encode(nullptr, 0, false, &coded_, error)) return false;
  result_.one_pass = one_pass_;
  result_.cost = cost_;
  return true;
}

}  // namespace producer
