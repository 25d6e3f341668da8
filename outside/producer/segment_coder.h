#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "outside/producer/codecs.h"
#include "outside/producer/rate_control.h"
#include "outside/producer/segment_pass.h"

namespace producer {

// The "Warning: " lines of a run, each printed the first time any worker
// says it.
class RunWarnings {
 public:
  enum Kind { kTooLarge, kRecoded, kStarved, kDropped, kKinds };
  void Say(Kind kind, const std::string& text);

 private:
  std::atomic<bool> said_[kKinds] = {};
};

enum class RateMode { kQuality, kOnePass, kTwoPass };

// What every segment of an encoding pass shares.
struct EncodingSettings {
  VideoCodecSettings codec;
  int key_interval = 250;
  RateMode mode = RateMode::kQuality;
  int quality = 100;            // constant quality, in percent
  int64_t average_bitrate = 0;  // for the messages
  // Two passes: the analysis of every frame of the volume.
  const std::vector<FrameStats>* stats = nullptr;
  // The least bits the plan expects of any frame.
  double least_frame_bits = 0;
  // One pass: the quantiser guessed for the first frame.
  double first_quantizer = 8;
  // maxBitrate: the video bits of any `peak_window` frames; none when 0.
  int64_t peak_window = 0;
  double peak_bits = 0;
};

// Where a segment starts from: its frames, its share of the volume's bits,
// and what the segments before it have learned.
struct SegmentStart {
  Segment range;
  double budget_bits = 0;  // bit-rate modes: the video bits of its frames
  // The share of the volume's margin the segment may spend before it
  // leaves frames out.
  double slack_bits = 0;
  // The last segment of the pass: no segment after it takes back what it
  // spends beyond its budget.
  bool last = false;
  double correction = 0;  // two passes: real to predicted bits so far; 0: none yet
  std::optional<OnePassRateControl> one_pass;
  FrameCostModel cost;
  std::vector<double> peak_seed;  // the bits of the frames just before it
};

// What a segment's coding found out.
struct SegmentResult {
  double bits = 0;            // of its coded frames
  double predicted_bits = 0;  // two passes: what the model said they would take
  std::optional<OnePassRateControl> one_pass;
  FrameCostModel cost;
  int64_t key_frames = 0;
  int64_t dropped = 0;
  int64_t recoded = 0;
};

// Codes the frames of one segment of the encoding pass in order with a
// codec of its own: the quantiser of each frame from the segment's bits
// (two passes: the plan of its frames; one pass: what the frames before
// cost) or from the quality; key frames at the start, where planned and
// every key interval; frames too large for the file's packets coded again
// coarser; frames left out when even the coarsest quantiser cannot keep
// the bits.
class SegmentCoder {
 public:
  SegmentCoder(const EncodingSettings& settings, SegmentStart start, RunWarnings& warnings);
  bool Open(std::string* error);
  // Codes frame `i` (the next of the segment) into `out`.
  bool Code(int64_t i, AVFrame* picture, std::vector<CodedFrame>* out, std::string* error);
  // Ends the codec's work.
  bool Finish(std::string* error);
  const SegmentResult& Result() const { return result_; }

 private:
  bool BitrateMode() const { return settings_.mode != RateMode::kQuality; }
  std::optional<double> ChooseQuantizer(int64_t i, bool key);
  bool CodeFrame(int64_t i, AVFrame* picture, int quantizer, bool key, std::vector<CodedFrame>* out,
                 std::string* error);

  const EncodingSettings& settings_;
  const SegmentStart start_;
  RunWarnings& warnings_;
  std::unique_ptr<VideoEncoder> video_;
  std::unique_ptr<TwoPassRateControl> plan_;
  std::optional<OnePassRateControl> one_pass_;
  QuantizerDither dither_;
  FrameCostModel cost_;
  std::optional<PeakLimit> peak_;
  int64_t since_key_ = 0;
  bool force_key_ = false;
  bool recoding_ = false;
  bool starved_ = false;
  bool leaving_out_ = false;  // frames are left out: the coarsest quantiser for all
  // Of the P frames coded at the coarsest quantiser.
  int64_t coarsest_frames_ = 0;
  double smallest_coarsest_bits_ = 0;
  double largest_coarsest_bits_ = 0;
  std::vector<VideoEncoder::Coded> coded_;
  SegmentResult result_;
};

}  // namespace producer
