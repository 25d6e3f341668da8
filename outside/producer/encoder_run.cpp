#include "outside/producer/encoder_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>

#include "outside/frameserver/video_file.h"
#include "outside/producer/codecs.h"
#include "outside/producer/console.h"
#include "outside/producer/frame_source.h"
#include "outside/producer/job_file.h"
#include "outside/producer/output_path.h"
#include "outside/producer/rate_control.h"
#include "outside/producer/rm_output.h"
#include "outside/producer/volume_writer.h"

namespace producer {
namespace {

// Bytes the container adds to a coded frame: the packet header, and for
// video the frame header inside the packet.
constexpr int64_t kVideoPacketOverhead = 24;
constexpr int64_t kAudioPacketOverhead = 12;
// The share of the budget a bit-rate encoding aims at: the rest absorbs what
// the last frames get wrong, so that the file never grows past the budget.
constexpr double kAimShare = 0.995;
// A frame whose predicted size passes this share of the largest frame the
// file's packets hold is coded coarser.
constexpr double kFrameGuardShare = 0.75;
// The window over which maxBitrate is the peak, and the share of it aimed
// at (the model's error stays under it).
constexpr double kPeakWindowSeconds = 3;
constexpr double kPeakAimShare = 0.9;
// Audio frames the AAC encoder holds back at most: what may still come for
// a part after its last picture.
constexpr double kAudioDelayFrames = 3;
// More frames left out than this share of the volume is no encoding.
constexpr double kMostFramesDropped = 0.5;

// Prints a progress line whenever the whole percentage changes.
class Progress {
 public:
  Progress(int pass, bool analysis, int64_t frames)
      : pass_(pass), analysis_(analysis), frames_(frames) {}

  void Frame(int64_t done, int64_t kbps) {
    const int percent = frames_ > 0 ? static_cast<int>(done * 100 / frames_) : 100;
    if (percent == last_) return;
    last_ = percent;
    Print(analysis_ ? AnalysisLine(percent) : EncodingLine(pass_, percent, kbps));
  }

 private:
  int pass_;
  bool analysis_;
  int64_t frames_;
  int last_ = -1;
};

// A "Warning: " line printed the first time only.
class OnceWarning {
 public:
  void Say(const std::string& text) {
    if (said_) return;
    said_ = true;
    Print(WarningLine(text));
  }

 private:
  bool said_ = false;
};

enum class PassEnd { Done, Stopped, Failed };

// The state of one encoding pass.
struct PassState {
  TwoPassRateControl* plan = nullptr;
  std::unique_ptr<VideoEncoder> video;
  std::optional<OnePassRateControl> one_pass;
  QuantizerDither dither;
  FrameCostModel cost;
  std::optional<PeakLimit> peak;
  int64_t since_key = 0;
  int64_t frames_in_part = 0;
  int64_t largest_packet = 0;
  int parts = 1;
  bool force_key = false;
  bool recoding = false;
  double smallest_coarsest_bits = 0;  // of the P frames coded at the coarsest quantiser
  std::vector<VideoEncoder::Coded> coded;
};

class EncoderRun {
 public:
  EncoderRun(const ProducerJob& job, kv_video_file::VideoFile& clip, const std::atomic<bool>& stop)
      : job_(job), clip_(clip), info_(clip.Info()), stop_(stop) {}

  int Execute();

 private:
  bool Prepare();
  PassEnd AnalysisPass(std::vector<FrameStats>* stats);
  PassEnd EncodingPass(int pass, TwoPassRateControl* plan);
  bool OpenPass(PassState& st);
  bool FrameStep(int64_t i, AVFrame* picture, PassState& st);
  bool RollOverIfFull(int64_t i, PassState& st, bool* key);
  double BitsLeft(int64_t i) const;
  // The quantiser of frame i; none when the frame is to be left out.
  std::optional<double> ChooseQuantizer(int64_t i, bool key, PassState& st);
  bool CodeFrame(int64_t i, AVFrame* picture, int quantizer, bool key, PassState& st);
  int Finished(PassEnd end, std::chrono::steady_clock::time_point started);
  std::string NeededBitrate() const;
  double Seconds(int64_t frame) const { return static_cast<double>(frame) * fps_.den / fps_.num; }
  bool BitrateMode() const { return job_.encoding_type == EncodingType::Bitrate; }
  int Fail(const std::string& why) {
    Print(ErrorLine(why));
    return kExitFailed;
  }

  const ProducerJob& job_;
  kv_video_file::VideoFile& clip_;
  const kvfs_clip_info info_;
  const std::atomic<bool>& stop_;

  int width_ = 0;
  int height_ = 0;
  AVRational fps_{25, 1};
  int64_t frames_ = 0;
  int key_interval_ = 250;
  bool with_audio_ = false;
  double budget_bytes_ = 0;  // bit-rate encodings
  double audio_bytes_per_second_ = 0;

  std::unique_ptr<AudioEncoder> audio_;
  std::unique_ptr<AudioStore> audio_store_;  // two passes: the sound coded in the first
  std::unique_ptr<VolumeWriter> writer_;
  std::string error_;

  int64_t dropped_ = 0;
  // The bits every frame would take at the coarsest quantiser, by the model
  // of the pass (one pass: learned from the frames it coded).
  double coarsest_bits_ = 0;
  bool starved_ = false;  // even the coarsest quantiser is too fine for the budget
  int64_t recoded_ = 0;   // frames coded again to fit the file's packets
  OnceWarning warn_too_large_, warn_recoded_, warn_starved_, warn_dropped_;
};

bool EncoderRun::Prepare() {
  if (info_.pixel_format == KVFS_PIXEL_NONE || info_.frame_count < 1) {
    error_ = "\"" + job_.input + "\" has no picture";
    return false;
  }
  if (info_.fps_numerator == 0 || info_.fps_denominator == 0) {
    error_ = "\"" + job_.input + "\" has no frame rate";
    return false;
  }
  fps_ = AVRational{static_cast<int>(info_.fps_numerator), static_cast<int>(info_.fps_denominator)};
  const double fps = av_q2d(fps_);
  if (fps > 1000 || fps < 0.5 || info_.fps_numerator > 0x7FFFFFFF ||
      info_.fps_denominator > 0x7FFFFFFF) {
    error_ = "the input's frame rate is out of range";
    return false;
  }
  if (job_.max_frame_rate > 0 && fps > job_.max_frame_rate + 0.001) {
    char text[128];
    std::snprintf(text, sizeof text, "the input's %.3f fps exceed maxFrameRate %.3f", fps,
                  job_.max_frame_rate);
    error_ = text;
    return false;
  }
  width_ = job_.output_width ? job_.output_width : info_.width;
  height_ = job_.output_height ? job_.output_height : info_.height;
  // The codec codes sizes in steps of 4.
  if (width_ % 4 || height_ % 4) {
    const int w = std::max(4, width_ / 4 * 4), h = std::max(4, height_ / 4 * 4);
    Print(InfoLine("the picture is scaled from " + std::to_string(width_) + "x" +
                   std::to_string(height_) + " to " + std::to_string(w) + "x" + std::to_string(h) +
                   ", the nearest size the codec takes"));
    width_ = w;
    height_ = h;
  }
  if (width_ < 16 || height_ < 16 || width_ > 4096 || height_ > 4096) {
    error_ = "the picture size " + std::to_string(width_) + "x" + std::to_string(height_) +
             " is outside 16x16..4096x4096";
    return false;
  }
  frames_ = info_.frame_count;
  key_interval_ =
      static_cast<int>(std::clamp(std::floor(job_.max_key_frame_interval * fps), 1.0, 100000.0));
  with_audio_ = job_.WantsAudio();
  if (with_audio_ && (info_.audio_rate <= 0 || info_.channels <= 0)) {
    Print(InfoLine("the input has no sound: the file gets no audio stream"));
    with_audio_ = false;
  }
  if (with_audio_) {
    audio_ = AudioEncoder::Open(info_.audio_rate, info_.channels, job_.audio_kbps,
                                job_.audio_channels, &error_);
    if (!audio_) return false;
    audio_bytes_per_second_ = job_.audio_kbps * 1024.0 / 8;
  }
  budget_bytes_ = static_cast<double>(job_.average_bitrate) * Seconds(frames_) / 8;
  return true;
}

PassEnd EncoderRun::AnalysisPass(std::vector<FrameStats>* stats) {
  VideoCodecSettings settings;
  settings.width = width_;
  settings.height = height_;
  settings.frame_rate = fps_;
  settings.complexity = job_.first_pass_complexity;
  settings.analysis_pass = true;
  settings.key_interval = key_interval_;
  std::unique_ptr<VideoEncoder> video = VideoEncoder::Open(settings, &error_);
  if (!video) return PassEnd::Failed;
  const int q = static_cast<int>(
      AnalysisQuantizer(std::max(1.0, job_.average_bitrate - audio_bytes_per_second_ * 8), width_,
                        height_, av_q2d(fps_)));
  if (with_audio_) {
    audio_store_ = std::make_unique<AudioStore>();
    if (!audio_store_->Ok()) {
      error_ = "cannot make a temporary file for the sound";
      return PassEnd::Failed;
    }
  }
  AudioEncoder::Sink store = [this](const uint8_t* data, int size, double start) {
    return audio_store_->Add(data, size, start);
  };
  FrameSource source(clip_, width_, height_, 0, frames_, with_audio_);
  Progress progress(1, true, frames_);
  progress.Frame(0, 0);
  std::vector<VideoEncoder::Coded> coded;
  for (int64_t i = 0; i < frames_; ++i) {
    if (stop_) return PassEnd::Stopped;
    SourceFrame frame;
    if (!source.Next(&frame, &error_)) return PassEnd::Failed;
    if (with_audio_ &&
        !audio_->Push(frame.sound.data(), static_cast<int64_t>(frame.sound.size()) / info_.channels,
                      store, &error_))
      return PassEnd::Failed;
    coded.clear();
    if (!video->Encode(frame.picture, q, i == 0, &coded, &error_)) return PassEnd::Failed;
    progress.Frame(i + 1, 0);
  }
  if (!video->Encode(nullptr, q, false, &coded, &error_)) return PassEnd::Failed;
  if (with_audio_ && !audio_->Finish(store, &error_)) return PassEnd::Failed;
  std::optional<std::vector<FrameStats>> parsed = ParseFrameStats(video->Statistics());
  if (!parsed || static_cast<int64_t>(parsed->size()) != frames_) {
    error_ = "the analysis pass gave no statistics for every frame";
    return PassEnd::Failed;
  }
  *stats = std::move(*parsed);
  return PassEnd::Done;
}

// The video codec, the output and the rate controls of an encoding pass.
bool EncoderRun::OpenPass(PassState& st) {
  const int64_t audio_bps = with_audio_ ? job_.audio_kbps * 1024 : 0;
  VideoCodecSettings settings;
  settings.width = width_;
  settings.height = height_;
  settings.frame_rate = fps_;
  settings.complexity = job_.encoder_complexity;
  settings.bit_rate = BitrateMode() ? std::max<int64_t>(1, job_.average_bitrate - audio_bps) : 0;
  st.video = VideoEncoder::Open(settings, &error_);
  if (!st.video) return false;
  ClipText text{job_.title,       job_.author,   job_.copyright,
                job_.description, job_.keywords, job_.rating};
  VideoStreamFormat video{width_, height_, fps_, settings.bit_rate,
                          std::max<int64_t>(0, job_.maximum_bitrate - audio_bps)};
  std::optional<AudioStreamFormat> audio;
  if (with_audio_) {
    const AVCodecContext* a = audio_->Context();
    audio = AudioStreamFormat{a->sample_rate, a->ch_layout.nb_channels, a->frame_size, a->bit_rate};
  }
  std::unique_ptr<RealMediaOutput> output =
      RealMediaOutput::Create(job_.output, text, video, audio ? &*audio : nullptr, &error_);
  if (!output) return false;
  writer_ = std::make_unique<VolumeWriter>(std::move(output), audio_store_.get(),
                                           with_audio_ && !audio_store_, fps_);
  if (!st.plan && BitrateMode())
    st.one_pass.emplace(
        AnalysisQuantizer(std::max(1.0, job_.average_bitrate - audio_bytes_per_second_ * 8), width_,
                          height_, av_q2d(fps_)));
  const double window_frames = std::max(1.0, std::round(kPeakWindowSeconds * av_q2d(fps_)));
  const double peak_bits = (static_cast<double>(job_.maximum_bitrate) - audio_bps) * window_frames /
                           av_q2d(fps_) * kPeakAimShare;
  if (job_.maximum_bitrate > 0 && peak_bits > 0)
    st.peak.emplace(static_cast<int64_t>(window_frames), peak_bits);
  return true;
}

PassEnd EncoderRun::EncodingPass(int pass, TwoPassRateControl* plan) {
  PassState st;
  st.plan = plan;
  if (!OpenPass(st)) return PassEnd::Failed;
  const bool sound_inline = with_audio_ && !audio_store_;
  std::string sink_error;
  AudioEncoder::Sink queue = [&](const uint8_t* data, int size, double start) {
    return writer_->QueueAudio(data, size, start, &sink_error);
  };
  FrameSource source(clip_, width_, height_, 0, frames_, sound_inline);
  Progress progress(pass, false, frames_);
  progress.Frame(0, 0);
  int64_t done = 0;
  for (int64_t i = 0; i < frames_ && !stop_; ++i) {
    SourceFrame frame;
    if (!source.Next(&frame, &error_)) return PassEnd::Failed;
    if (sound_inline &&
        !audio_->Push(frame.sound.data(), static_cast<int64_t>(frame.sound.size()) / info_.channels,
                      queue, &error_)) {
      if (!sink_error.empty()) error_ = sink_error;
      return PassEnd::Failed;
    }
    if (!FrameStep(i, frame.picture, st)) return PassEnd::Failed;
    done = i + 1;
    progress.Frame(done, static_cast<int64_t>(writer_->TotalBytes() * 8 / Seconds(done) / 1024));
  }
  const bool stopped = done < frames_;
  const double keys = std::ceil(static_cast<double>(frames_) / key_interval_);
  coarsest_bits_ = plan ? plan->LeastBitsFrom(0) * plan->SettledCorrection()
                        : keys * st.cost.Bits(true, kMaxQuantizer) +
                              static_cast<double>(frames_ - static_cast<int64_t>(keys)) *
                                  st.cost.Bits(false, kMaxQuantizer);
  st.coded.clear();
  if (!st.video->Encode(nullptr, 0, false, &st.coded, &error_)) return PassEnd::Failed;
  if (sound_inline && !stopped) {
    if (!audio_->Finish(queue, &error_)) {
      if (!sink_error.empty()) error_ = sink_error;
      return PassEnd::Failed;
    }
    if (!writer_->AudioEnded(&error_)) return PassEnd::Failed;
  }
  if (!writer_->Finish(done, &error_)) return PassEnd::Failed;
  return stopped ? PassEnd::Stopped : PassEnd::Done;
}

bool EncoderRun::FrameStep(int64_t i, AVFrame* picture, PassState& st) {
  const bool planned_key = st.plan && st.plan->IsKey(i) && !starved_;
  bool key = i == 0 || st.force_key || st.since_key >= key_interval_ || planned_key;
  if (!RollOverIfFull(i, st, &key)) return false;
  const std::optional<double> q = ChooseQuantizer(i, key, st);
  if (!q) {
    // Left out: the picture before it stays on screen a frame longer.
    ++dropped_;
    st.force_key = st.force_key || key;
    warn_dropped_.Say("avgBitrate " + std::to_string(job_.average_bitrate) +
                      " bit/s cannot hold every frame even at the coarsest quantiser: frames are "
                      "left out from frame " +
                      std::to_string(i) + " on");
    return true;
  }
  return CodeFrame(i, picture, st.dither.Next(*q), key, st);
}

bool EncoderRun::RollOverIfFull(int64_t i, PassState& st, bool* key) {
  const int64_t roll_bytes = job_.roll_size_mb * 1048576;
  if (roll_bytes <= 0 || st.frames_in_part == 0) return true;
  const double frame_seconds = Seconds(i + 1) - Seconds(i);
  const double audio_frame_seconds = with_audio_ ? audio_->FrameSeconds() : 0;
  const double late_audio_seconds = 2 * frame_seconds + kAudioDelayFrames * audio_frame_seconds;
  const int64_t margin = 2 * st.largest_packet + 2 * kVideoPacketOverhead +
                         static_cast<int64_t>(audio_bytes_per_second_ * late_audio_seconds) +
                         static_cast<int64_t>(kAudioDelayFrames + 2) * kAudioPacketOverhead +
                         RealMediaOutput::kTrailerBytes + 4096;
  if (writer_->PartBytes() + margin <= roll_bytes) return true;
  if (st.frames_in_part < 2) {
    error_ = "a roll-over size of " + std::to_string(job_.roll_size_mb) +
             " MB cannot hold the frames of this clip";
    return false;
  }
  if (!writer_->RollOverBefore(i, &error_)) return false;
  ++st.parts;
  Print(InfoLine("continued in \"" + PartFileName(job_.output, st.parts) + "\""));
  st.frames_in_part = 0;
  *key = true;
  return true;
}

// The bits the pictures from frame i on may take, in a bit-rate encoding.
double EncoderRun::BitsLeft(int64_t i) const {
  const double start = Seconds(i), end = Seconds(frames_);
  const double aim = budget_bytes_ * kAimShare;
  const double total = static_cast<double>(writer_->TotalBytes());
  const double audio_left = audio_store_ ? static_cast<double>(writer_->AudioBytesLeft())
                                         : audio_bytes_per_second_ * (end - start);
  const double audio_packets_left = audio_store_  ? static_cast<double>(writer_->AudioFramesLeft())
                                    : with_audio_ ? (end - start) / audio_->FrameSeconds()
                                                  : 0;
  double overhead = static_cast<double>((frames_ - i) * kVideoPacketOverhead) +
                    audio_packets_left * kAudioPacketOverhead + RealMediaOutput::kTrailerBytes;
  const int64_t roll_bytes = job_.roll_size_mb * 1048576;
  if (roll_bytes > 0)
    overhead += std::floor((aim - total + static_cast<double>(writer_->PartBytes())) /
                           static_cast<double>(roll_bytes)) *
                static_cast<double>(writer_->HeaderBytes() + RealMediaOutput::kTrailerBytes);
  return 8 * (aim - total - audio_left - overhead);
}

std::optional<double> EncoderRun::ChooseQuantizer(int64_t i, bool key, PassState& st) {
  const auto n = static_cast<size_t>(i);
  const bool known = st.plan || st.cost.Known(key) || st.cost.Known(false);
  auto predict = [&](double q) {
    return st.plan ? st.plan->CorrectedBits(n, q) : st.cost.Bits(key, q);
  };
  double q = QualityQuantizer(job_.quality);
  double bits_left = 0;
  if (BitrateMode()) {
    bits_left = BitsLeft(i);
    q = st.plan ? st.plan->Quantizer(n, bits_left)
                : st.one_pass->Quantizer(key, bits_left, frames_ - i);
  }
  const double wanted = q;
  if (known) {
    q = QuantizerWithin(q, kMaxVideoFrameBytes * 8.0 * kFrameGuardShare, predict);
    if (q > wanted && !BitrateMode())
      warn_too_large_.Say("frames of this clip at quality " + std::to_string(job_.quality) +
                          " are larger than the file's packets hold: they are coded coarser");
    if (st.peak)
      q = QuantizerWithin(q, st.peak->AllowedBits() - 8.0 * kVideoPacketOverhead, predict);
  }
  // The rest is the last resort of a budget the rate control cannot keep
  // even at its coarsest quantiser.
  if (!BitrateMode() || !known || wanted < kMaxQuantizer) return q;
  // Keep the budget: the frames after this one need at least the bits of the
  // smallest frame coded at the coarsest quantiser so far (models are no
  // guide here: a still picture at the coarsest quantiser costs next to
  // nothing).
  const double reserve = static_cast<double>(frames_ - i - 1) * st.smallest_coarsest_bits;
  const double least_here = st.cost.Bits(key, kMaxQuantizer);
  // The share the rate control keeps aside for its own errors is the
  // frames' to take before any is left out.
  const double slack = 8 * budget_bytes_ * (1 - kAimShare);
  if (least_here <= bits_left + slack - reserve) return q;
  starved_ = true;
  warn_starved_.Say("avgBitrate " + std::to_string(job_.average_bitrate) +
                    " bit/s is too tight for this clip at the coarsest quantiser: key frames "
                    "are placed only every maxKeyFrameInterval from frame " +
                    std::to_string(i) + " on");
  const bool must_code = i == 0 || st.frames_in_part == 0;
  if (must_code) return q;
  return std::nullopt;
}

bool EncoderRun::CodeFrame(int64_t i, AVFrame* picture, int quantizer, bool key, PassState& st) {
  st.coded.clear();
  if (!st.video->Encode(picture, quantizer, key, &st.coded, &error_)) return false;
  // A frame the file's packets cannot hold is coded again as a key frame
  // (which needs no reference the decoder lacks) at a coarser quantiser.
  while (st.coded.size() == 1 && st.coded[0].bytes.size() > kMaxVideoFrameBytes) {
    const double over = static_cast<double>(st.coded[0].bytes.size()) / kMaxVideoFrameBytes;
    const int coarser = std::min(
        static_cast<int>(kMaxQuantizer),
        std::max(quantizer + 1, static_cast<int>(std::ceil(quantizer * std::pow(over, 1 / 1.5)))));
    if (quantizer >= kMaxQuantizer) {
      error_ = "frame " + std::to_string(i) + " takes " + std::to_string(st.coded[0].bytes.size()) +
               " bytes even at the coarsest quantiser, more than the file's packets hold";
      return false;
    }
    warn_recoded_.Say("frame " + std::to_string(i) + " took " +
                      std::to_string(st.coded[0].bytes.size()) + " bytes at quantiser " +
                      std::to_string(quantizer) +
                      ", more than the file's packets hold: such frames are coded again coarser");
    if (!st.recoding) ++recoded_;
    st.recoding = true;
    quantizer = coarser;
    key = true;
    st.coded.clear();
    if (!st.video->Encode(picture, quantizer, key, &st.coded, &error_)) return false;
  }
  st.recoding = false;
  for (const VideoEncoder::Coded& c : st.coded) {
    const int size = static_cast<int>(c.bytes.size());
    if (!writer_->Video(i, c.bytes.data(), size, c.key, &error_)) return false;
    const double bits = size * 8.0;
    st.largest_packet = std::max<int64_t>(st.largest_packet, size);
    if (st.plan) st.plan->FrameDone(static_cast<size_t>(i), quantizer, bits);
    if (st.one_pass) st.one_pass->FrameDone(c.key, quantizer, bits);
    st.cost.FrameDone(c.key, quantizer, bits);
    if (!c.key && quantizer >= kMaxQuantizer)
      st.smallest_coarsest_bits =
          st.smallest_coarsest_bits > 0 ? std::min(st.smallest_coarsest_bits, bits) : bits;
    if (st.peak) st.peak->FrameDone(bits + 8.0 * kVideoPacketOverhead);
    st.since_key = c.key ? 1 : st.since_key + 1;
    st.force_key = false;
    ++st.frames_in_part;
  }
  return true;
}

std::string EncoderRun::NeededBitrate() const {
  const double bits = coarsest_bits_ + 8 * (audio_bytes_per_second_ * Seconds(frames_) +
                                            static_cast<double>(frames_ * kVideoPacketOverhead));
  return std::to_string(static_cast<int64_t>(std::ceil(bits / Seconds(frames_))));
}

int EncoderRun::Finished(PassEnd end, std::chrono::steady_clock::time_point started) {
  if (end == PassEnd::Failed) {
    // A failed volume leaves nothing that looks like output.
    if (writer_) writer_->Discard();
    return Fail(error_);
  }
  std::string files;
  for (const std::string& file : writer_->Files())
    files += (files.empty() ? "\"" : ", \"") + file + "\"";
  if (end == PassEnd::Stopped) {
    Print(InfoLine("stopped by request: " + files + " is complete up to there"));
    return kExitStopped;
  }
  if (BitrateMode() &&
      (static_cast<double>(writer_->TotalBytes()) > budget_bytes_ ||
       static_cast<double>(dropped_) > kMostFramesDropped * static_cast<double>(frames_))) {
    const std::string needed = NeededBitrate();
    writer_->Discard();
    return Fail("avgBitrate " + std::to_string(job_.average_bitrate) +
                " bit/s is too low for this clip: it needs at least " + needed +
                " bit/s at the coarsest quantiser");
  }
  if (recoded_ > 0)
    Print(WarningLine(std::to_string(recoded_) + " of " + std::to_string(frames_) +
                      " frames were coded again coarser to fit the file's packets"));
  if (dropped_ > 0)
    Print(WarningLine(std::to_string(dropped_) + " of " + std::to_string(frames_) +
                      " frames were left out to keep avgBitrate " +
                      std::to_string(job_.average_bitrate) + " bit/s"));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  Print(DoneLine(files, writer_->TotalBytes(), seconds));
  return kExitDone;
}

int EncoderRun::Execute() {
  if (!Prepare()) return Fail(error_);
  const auto started = std::chrono::steady_clock::now();
  Print(StartingLine());
  const bool two_pass = job_.two_pass && BitrateMode();
  std::unique_ptr<TwoPassRateControl> plan;
  if (two_pass) {
    std::vector<FrameStats> stats;
    switch (AnalysisPass(&stats)) {
      case PassEnd::Failed:
        return Fail(error_);
      case PassEnd::Stopped:
        Print(InfoLine("stopped during the analysis pass: no file was written"));
        return kExitStopped;
      case PassEnd::Done:
        break;
    }
    plan = std::make_unique<TwoPassRateControl>(std::move(stats));
    const double least = plan->LeastBitsFrom(0) / 8 +
                         (audio_store_ ? audio_store_->PayloadBytes() : 0) +
                         static_cast<double>(frames_) * kVideoPacketOverhead;
    if (least > budget_bytes_) {
      return Fail("avgBitrate " + std::to_string(job_.average_bitrate) +
                  " bit/s is too low for this clip: it needs at least " +
                  std::to_string(static_cast<int64_t>(std::ceil(least * 8 / Seconds(frames_)))) +
                  " bit/s at the coarsest quantiser");
    }
  }
  return Finished(EncodingPass(two_pass ? 2 : 1, plan.get()), started);
}

}  // namespace

int RunEncoderJob(const std::string& job_path, const std::atomic<bool>& stop) {
  std::string error;
  std::optional<ProducerJob> job = ReadProducerJob(job_path, &error);
  if (!job) {
    Print(ErrorLine(job_path + ": " + error));
    return kExitFailed;
  }
  if (!CheckOutputPath(job_path, job->input, job->output, &error)) {
    Print(ErrorLine(error));
    return kExitFailed;
  }
  std::unique_ptr<kv_video_file::VideoFile> clip =
      kv_video_file::VideoFile::Open(job->input, &error);
  if (!clip) {
    Print(ErrorLine("cannot open \"" + job->input + "\": " + error));
    return kExitFailed;
  }
  EncoderRun run(*job, *clip, stop);
  return run.Execute();
}

}  // namespace producer
