#include "outside/producer/encoder_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

#include "outside/frameserver/video_file.h"
#include "outside/producer/codecs.h"
#include "outside/producer/console.h"
#include "outside/producer/frame_source.h"
#include "outside/producer/job_file.h"
#include "outside/producer/output_path.h"
#include "outside/producer/rate_control.h"
#include "outside/producer/rm_output.h"
#include "outside/producer/segment_coder.h"
#include "outside/producer/segment_pass.h"
#include "outside/producer/segments.h"
#include "outside/producer/sound_coder.h"
#include "outside/producer/volume_writer.h"

namespace producer {
namespace {

// The share of the budget a bit-rate encoding aims at: the rest absorbs what
// the last frames of the segments get wrong, so that the file never grows
// past the budget.
constexpr double kAimShare = 0.995;
// The window over which maxBitrate is the peak, and the share of it aimed
// at (the model's error stays under it).
constexpr double kPeakWindowSeconds = 3;
constexpr double kPeakAimShare = 0.9;
// Audio frames the AAC encoder holds back at most: what may still come for
// a part after its last picture.
constexpr double kAudioDelayFrames = 3;
// A segment of the second pass starts before the sound is coded only when
// the segments after it can take back what the sound may take beyond its
// forecast with at most this share of their bits.
constexpr double kSoundTakenBackShare = 0.25;
// More frames left out than this share of the volume is no encoding.
constexpr double kMostFramesDropped = 0.5;
// The shortest segment of both passes of two passes, in seconds (the
// encoding pass's segments start on the key frames the analysis placed).
constexpr double kShortestPlannedSegmentSeconds = 2;

// Prints a progress line whenever the whole percentage changes.
class Progress {
 public:
  Progress(int pass, bool analysis, int64_t frames)
      : pass_(pass), analysis_(analysis), frames_(frames) {}

  void Frame(int64_t done, int64_t kbps) {
    const int percent = frames_ > 0 ? static_cast<int>(done * 100 / frames_) : 100;
    if (percent <= last_) return;
    last_ = percent;
    Print(analysis_ ? AnalysisLine(percent) : EncodingLine(pass_, percent, kbps));
  }

 private:
  int pass_;
  bool analysis_;
  int64_t frames_;
  int last_ = -1;
};

// What the segments of the encoding pass share about the volume's bits:
// each segment's share of the plan, what the finished ones took and what
// they learned. Every mode starts a segment from what the segments settled
// before it (see SegmentPass::SettledBefore) took and learned, which is the
// same in every run: the finished ones at the moment it starts depend on
// how fast each thread ran.
struct BitBook {
  std::vector<double> shares;
  std::vector<double> budgets;  // what each segment was given when it started
  std::vector<bool> started;    // its budget is given
  std::vector<double> taken;    // each segment's bits, its frames coded again included
  std::vector<std::optional<SegmentResult>> learned;
  double actual_bits = 0, predicted_bits = 0;  // two passes: the model's correction
  double coarsest_bits = 0;  // one pass: the segments' bits at the coarsest quantiser
  int64_t dropped = 0;
  int64_t recoded = 0;
};

class EncoderRun {
 public:
  EncoderRun(const ProducerJob& job, kv_video_file::VideoFile& clip, const std::atomic<bool>& stop)
      : job_(job), clip_(clip), info_(clip.Info()), stop_(stop) {}

  int Execute();

 private:
  bool Prepare();
  bool OpenWorkers(size_t count);
  PassEnd AnalysisPass(std::vector<FrameStats>* stats);
  bool AnalyseSegment(const SegmentPass::Task& task, kv_video_file::VideoFile& clip,
                      SegmentPass::Sink& sink, std::string* texts, std::string* error);
  PassEnd EncodingPass(int pass, const std::vector<FrameStats>* stats);
  bool OpenOutput();
  void PlanBits(const std::vector<Segment>& segments, const std::vector<FrameStats>* stats);
  bool EncodeSegment(const SegmentPass::Task& task, kv_video_file::VideoFile& clip,
                     SegmentPass::Sink& sink, std::string* error);
  SegmentStart StartOf(const SegmentPass::Task& task, const std::function<bool()>& halted);
  double StartFromSettled(const SegmentPass::Task& task, SegmentStart* start, double video_bits,
                          std::unique_lock<std::mutex>& lock, const std::function<bool()>& halted);
  void SegmentDone(const SegmentPass::Task& task, const SegmentResult& result);
  bool JoinFrame(const CodedFrame& frame, bool* needs_key, std::string* error);
  SoundForecast Sound(double until, AudioStore::Tally* coded) const;
  bool SoundTooUnsureToStart(const SegmentPass::Task& task);
  double VideoBits(double sound_until) const;
  double LeastFrameBits() const {
    return kLeastBitsPerMacroblock * ((width_ + 15) / 16) * ((height_ + 15) / 16);
  }
  int Finished(PassEnd end, std::chrono::steady_clock::time_point started);
  std::string NeededBitrate() const;
  int64_t ShortestPlannedSegment() const {
    return static_cast<int64_t>(std::ceil(kShortestPlannedSegmentSeconds * av_q2d(fps_)));
  }
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
  int workers_ = 1;
  bool with_audio_ = false;
  double budget_bytes_ = 0;  // bit-rate encodings
  double audio_bytes_per_second_ = 0;
  std::vector<std::unique_ptr<kv_video_file::VideoFile>> instances_;  // the workers'
  std::unique_ptr<ProcessorSlots> processors_;  // the workers' and the sound's

  std::unique_ptr<AudioEncoder> audio_;
  std::unique_ptr<AudioStore> audio_store_;
  std::unique_ptr<SoundCoder> sound_;
  std::unique_ptr<VolumeWriter> writer_;
  std::string error_;

  EncodingSettings settings_;
  std::vector<double> planned_bits_;  // two passes: every frame's, at the volume's scale
  std::unique_ptr<TwoPassRateControl> plan_;
  std::mutex book_mutex_;
  std::condition_variable book_changed_;
  BitBook book_;
  const SegmentPass* coding_ = nullptr;  // the encoding pass
  RunWarnings warnings_;

  // The joiner's part of the output.
  int64_t frames_in_part_ = 0;
  int64_t largest_packet_ = 0;
  int parts_ = 1;
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
  workers_ = SegmentPass::DefaultWorkers();
  processors_ = std::make_unique<ProcessorSlots>(workers_);
  return true;
}

// Every worker serves its frames through an instance of the script of its
// own.
bool EncoderRun::OpenWorkers(size_t count) {
  while (instances_.size() < count) {
    std::string error;
    auto instance = kv_video_file::VideoFile::Open(job_.input, &error);
    if (!instance) {
      error_ = "cannot open \"" + job_.input + "\" again for another worker: " + error;
      return false;
    }
    instances_.push_back(std::move(instance));
  }
  return true;
}

std::vector<kv_video_file::VideoFile*> Pointers(
    const std::vector<std::unique_ptr<kv_video_file::VideoFile>>& instances, size_t count) {
  std::vector<kv_video_file::VideoFile*> pointers;
  for (size_t i = 0; i < count && i < instances.size(); ++i) pointers.push_back(instances[i].get());
  return pointers;
}

bool EncoderRun::AnalyseSegment(const SegmentPass::Task& task, kv_video_file::VideoFile& clip,
                                SegmentPass::Sink& sink, std::string* texts, std::string* error) {
  VideoCodecSettings settings;
  settings.width = width_;
  settings.height = height_;
  settings.frame_rate = fps_;
  settings.complexity = job_.first_pass_complexity;
  settings.analysis_pass = true;
  settings.key_interval = key_interval_;
  std::unique_ptr<VideoEncoder> video = VideoEncoder::Open(settings, error);
  if (!video) return false;
  const int q = static_cast<int>(
      AnalysisQuantizer(std::max(1.0, job_.average_bitrate - audio_bytes_per_second_ * 8), width_,
                        height_, av_q2d(fps_)));
  FrameSource source(clip, width_, height_, task.range.first, task.range.end);
  std::vector<VideoEncoder::Coded> coded;
  for (int64_t i = task.range.first; i < task.range.end; ++i) {
    if (sink.Halted()) return true;
    SourceFrame frame;
    if (!source.Next(&frame, error)) return false;
    coded.clear();
    if (!video->Encode(frame.picture, q, i == task.range.first, &coded, error)) return false;
    sink.Counted();
  }
  if (!video->Encode(nullptr, q, false, &coded, error)) return false;
  texts[task.segment] = video->Statistics();
  return true;
}

PassEnd EncoderRun::AnalysisPass(std::vector<FrameStats>* stats) {
  const std::vector<Segment> segments =
      AnalysisSegments(frames_, key_interval_, ShortestPlannedSegment(), workers_);
  const size_t workers = std::min(segments.size(), static_cast<size_t>(workers_));
  if (!OpenWorkers(workers)) return PassEnd::Failed;
  std::vector<std::string> texts(segments.size());
  Progress progress(1, true, frames_);
  progress.Frame(0, 0);
  SegmentPass pass(Pointers(instances_, workers), segments, stop_, processors_.get());
  const PassEnd end = pass.Run(
      [&](const SegmentPass::Task& task, kv_video_file::VideoFile& clip, SegmentPass::Sink& sink,
          std::string* error) { return AnalyseSegment(task, clip, sink, texts.data(), error); },
      nullptr, [&](int64_t coded) { progress.Frame(coded, 0); }, &error_);
  if (end != PassEnd::Done) return end;
  std::string all;
  for (const std::string& text : texts) all += text;
  std::optional<std::vector<FrameStats>> parsed = ParseFrameStats(all);
  if (!parsed || static_cast<int64_t>(parsed->size()) != frames_) {
    error_ = "the analysis pass gave no statistics for every frame";
    return PassEnd::Failed;
  }
  *stats = std::move(*parsed);
  return PassEnd::Done;
}

// The output and the settings every segment of the encoding pass shares.
bool EncoderRun::OpenOutput() {
  const int64_t audio_bps = with_audio_ ? job_.audio_kbps * 1024 : 0;
  VideoCodecSettings& codec = settings_.codec;
  codec.width = width_;
  codec.height = height_;
  codec.frame_rate = fps_;
  codec.complexity = job_.encoder_complexity;
  codec.bit_rate = BitrateMode() ? std::max<int64_t>(1, job_.average_bitrate - audio_bps) : 0;
  ClipText text{job_.title,       job_.author,   job_.copyright,
                job_.description, job_.keywords, job_.rating};
  VideoStreamFormat video{width_, height_, fps_, codec.bit_rate,
                          std::max<int64_t>(0, job_.maximum_bitrate - audio_bps)};
  std::optional<AudioStreamFormat> audio;
  if (with_audio_) {
    const AVCodecContext* a = audio_->Context();
    audio = AudioStreamFormat{a->sample_rate, a->ch_layout.nb_channels, a->frame_size, a->bit_rate};
  }
  std::unique_ptr<RealMediaOutput> output =
      RealMediaOutput::Create(job_.output, text, video, audio ? &*audio : nullptr, &error_);
  if (!output) return false;
  writer_ = std::make_unique<VolumeWriter>(std::move(output), audio_store_.get(), fps_);
  settings_.key_interval = key_interval_;
  settings_.least_frame_bits = LeastFrameBits();
  settings_.quality = job_.quality;
  settings_.average_bitrate = job_.average_bitrate;
  settings_.first_quantizer =
      AnalysisQuantizer(std::max(1.0, job_.average_bitrate - audio_bytes_per_second_ * 8), width_,
                        height_, av_q2d(fps_));
  const double window = std::max(1.0, std::round(kPeakWindowSeconds * av_q2d(fps_)));
  const double peak_bits = (static_cast<double>(job_.maximum_bitrate) - audio_bps) * window /
                           av_q2d(fps_) * kPeakAimShare;
  if (job_.maximum_bitrate > 0 && peak_bits > 0) {
    settings_.peak_window = static_cast<int64_t>(window);
    settings_.peak_bits = peak_bits;
  }
  return true;
}

SoundForecast EncoderRun::Sound(double until, AudioStore::Tally* coded) const {
  if (!with_audio_) return {};
  // The sound before `until`, the same however fast each thread runs, so
  // that a job gives the same bytes every time (one pass codes the sound
  // beside the pictures, far faster, and a segment waits at most for the
  // sound up to its start); a negative `until`: as coded so far.
  *coded = until < 0 ? audio_store_->Now() : audio_store_->Before(until);
  return ForecastSound(*coded, audio_->FrameSeconds(), Seconds(frames_), audio_bytes_per_second_,
                       audio_->MostBytesPerSecond());
}

// The video bits of the whole volume in a bit-rate encoding: the budget
// less the sound (as coded up to `sound_until` seconds, and as expected for
// the rest), the packets' and the parts' own bytes, and the share kept for
// errors.
double EncoderRun::VideoBits(double sound_until) const {
  const double aim = budget_bytes_ * kAimShare;
  const double seconds = Seconds(frames_);
  double audio = 0, audio_packets = 0;
  if (with_audio_) {
    AudioStore::Tally coded;
    audio = Sound(sound_until, &coded).bytes;
    const auto frames = static_cast<double>(coded.frames);
    audio_packets = coded.ended ? frames : std::max(frames, seconds / audio_->FrameSeconds() + 1);
  }
  // The frames' packets as if every frame were of the mean size.
  const double mean_frame = std::max(0.0, aim - audio) / static_cast<double>(frames_);
  double overhead =
      static_cast<double>(frames_ * VideoPacketOverhead(static_cast<int64_t>(mean_frame))) +
      audio_packets * kAudioPacketOverhead + RealMediaOutput::kTrailerBytes +
      static_cast<double>(writer_->HeaderBytes());
  const int64_t roll_bytes = job_.roll_size_mb * 1048576;
  if (roll_bytes > 0)
    overhead += std::floor(aim / static_cast<double>(roll_bytes)) *
                static_cast<double>(writer_->HeaderBytes() + RealMediaOutput::kTrailerBytes);
  return 8 * (aim - audio - overhead);
}

// Each segment's share of the volume's bits: two passes, by the plan of the
// whole volume; one pass, by its frames.
void EncoderRun::PlanBits(const std::vector<Segment>& segments,
                          const std::vector<FrameStats>* stats) {
  const double bits = VideoBits(0);
  if (stats) {
    plan_ = std::make_unique<TwoPassRateControl>(*stats, settings_.least_frame_bits);
    planned_bits_ = plan_->PlannedBits(bits);
  }
  book_.shares = SegmentShares(segments, planned_bits_, bits);
}

// The sound is coded beside the passes and its bytes are only forecast
// until it ends: the segments after the one starting take back what the
// forecast gets wrong, so it starts only when they can take it back easily;
// the last segment always starts from the sound as coded. The forecast is
// made from the sound before the segment's start, so that the same job
// gives the same bytes however fast each thread runs.
bool EncoderRun::SoundTooUnsureToStart(const SegmentPass::Task& task) {
  const size_t segment = task.segment;
  // One pass: the sound starts with the pictures and says little before
  // the last segment; only that one waits for it (waiting workers would
  // leave the processors to the sound alone).
  if (settings_.mode == RateMode::kOnePass) return segment + 1 == book_.shares.size();
  AudioStore::Tally coded;
  const double unsure = 8 * Sound(Seconds(task.range.first), &coded).unsure_bytes;
  if (unsure <= 0) return false;
  std::lock_guard<std::mutex> lock(book_mutex_);
  double after = 0;
  for (size_t k = segment + 1; k < book_.shares.size(); ++k) after += book_.shares[k];
  return unsure > kSoundTakenBackShare * after;
}

// A segment starts from what is the same in every run: the segments settled
// before it (what they took and learned), the budgets of those between them
// and it, and the sound before its start (the last segment: all of it, so
// that it takes back what the forecast got wrong). Gives the mean bits of
// the settled segments' frames; 0 when there are none.
double EncoderRun::StartFromSettled(const SegmentPass::Task& task, SegmentStart* start,
                                    double video_bits, std::unique_lock<std::mutex>& lock,
                                    const std::function<bool()>& halted) {
  const size_t settled = coding_->SettledBefore(task.segment);
  // A worker may start its segment a moment after the next one is taken.
  auto given = [&] {
    for (size_t k = settled; k < task.segment; ++k)
      if (!book_.started[k]) return false;
    return true;
  };
  while (!task.again && !given() && !halted())
    book_changed_.wait_for(lock, std::chrono::milliseconds(50));
  double taken = 0, given_bits = 0, waiting = 0;
  int64_t frames = 0;
  for (size_t k = 0; k < settled; ++k) {
    taken += book_.taken[k];
    frames += coding_->Segments()[k].Frames();
  }
  double actual = 0, predicted = 0;  // two passes: the model's correction
  for (size_t k = 0; k < settled; ++k) {
    if (!book_.learned[k]) continue;
    actual += book_.learned[k]->bits;
    predicted += book_.learned[k]->predicted_bits;
  }
  if (predicted > 0) start->correction = actual / predicted;
  if (settled > 0 && book_.learned[settled - 1]) {
    start->one_pass = book_.learned[settled - 1]->one_pass;
    start->cost = book_.learned[settled - 1]->cost;
  }
  if (BitrateMode()) {
    for (size_t k = settled; k < task.segment; ++k) given_bits += book_.budgets[k];
    for (size_t k = task.segment; k < book_.shares.size(); ++k) waiting += book_.shares[k];
    start->budget_bits = task.again ? task.bits
                                    : SegmentBudget(book_.shares[task.segment], video_bits, taken,
                                                    given_bits, waiting);
  }
  return frames > 0 ? taken / static_cast<double>(frames) : 0;
}

SegmentStart EncoderRun::StartOf(const SegmentPass::Task& task,
                                 const std::function<bool()>& halted) {
  // The sound the budget counts: all of it once it is known, else what
  // comes before the segment's start.
  double sound_until = Seconds(task.range.first);
  if (BitrateMode() && sound_ && !task.again && SoundTooUnsureToStart(task) &&
      audio_store_->WaitEnd(halted))
    sound_until = std::numeric_limits<double>::infinity();
  const double video_bits = BitrateMode() && !task.again ? VideoBits(sound_until) : 0;
  std::unique_lock<std::mutex> lock(book_mutex_);
  SegmentStart start;
  start.range = task.range;
  const double frames = static_cast<double>(task.range.Frames());
  const double mean = StartFromSettled(task, &start, video_bits, lock, halted);
  if (BitrateMode())
    start.slack_bits = 8 * budget_bytes_ * (1 - kAimShare) * frames / static_cast<double>(frames_);
  start.last = task.segment + 1 == book_.started.size();
  if (!task.again) {
    book_.started[task.segment] = true;
    book_.budgets[task.segment] = start.budget_bits;
    book_changed_.notify_all();
  }
  // The peak window reaches back into the segment before: its frames as
  // planned, else as the frames before took on average.
  if (settings_.peak_bits > 0) {
    const double seed = mean > 0 ? mean : BitrateMode() ? start.budget_bits / frames : 0;
    const double correction = std::clamp(start.correction > 0 ? start.correction : 1.0, 0.5, 2.0);
    for (int64_t j = std::max<int64_t>(0, task.range.first - settings_.peak_window);
         j < task.range.first; ++j)
      start.peak_seed.push_back(
          8.0 * kVideoPacketOverhead +
          (planned_bits_.empty() ? seed : planned_bits_[static_cast<size_t>(j)] * correction));
  }
  return start;
}

void EncoderRun::SegmentDone(const SegmentPass::Task& task, const SegmentResult& result) {
  std::lock_guard<std::mutex> lock(book_mutex_);
  book_.taken[task.segment] += task.again ? result.bits - task.bits : result.bits;
  if (!task.again) book_.learned[task.segment] = result;
  book_.actual_bits += result.bits;
  book_.predicted_bits += result.predicted_bits;
  const double frames = static_cast<double>(task.range.Frames());
  const double keys = std::ceil(frames / key_interval_);
  if (!task.again)
    book_.coarsest_bits += keys * result.cost.Bits(true, kMaxQuantizer) +
                           (frames - keys) * result.cost.Bits(false, kMaxQuantizer);
  book_.dropped += result.dropped;
  book_.recoded += result.recoded;
}

bool EncoderRun::EncodeSegment(const SegmentPass::Task& task, kv_video_file::VideoFile& clip,
                               SegmentPass::Sink& sink, std::string* error) {
  SegmentCoder coder(settings_, StartOf(task, [&sink] { return sink.Halted(); }), warnings_);
  if (!coder.Open(error)) return false;
  FrameSource source(clip, width_, height_, task.range.first, task.range.end);
  std::vector<CodedFrame> out;
  for (int64_t i = task.range.first; i < task.range.end; ++i) {
    if (sink.Halted()) return true;
    SourceFrame frame;
    if (!source.Next(&frame, error)) return false;
    out.clear();
    if (!coder.Code(i, frame.picture, &out, error)) return false;
    for (CodedFrame& f : out) sink.Add(std::move(f));
  }
  if (!coder.Finish(error)) return false;
  SegmentDone(task, coder.Result());
  return true;
}

// Frame by frame in order into the file, rolling over to a new part when
// the next frame would pass the roll-over size; that frame must be a key
// frame.
bool EncoderRun::JoinFrame(const CodedFrame& frame, bool* needs_key, std::string* error) {
  if (frame.bytes.empty()) return true;  // left out
  const auto size = static_cast<int64_t>(frame.bytes.size());
  const int64_t roll_bytes = job_.roll_size_mb * 1048576;
  if (roll_bytes > 0 && frames_in_part_ > 0) {
    const double frame_seconds = Seconds(frame.frame + 1) - Seconds(frame.frame);
    const double audio_frame_seconds = with_audio_ ? audio_->FrameSeconds() : 0;
    const double late_audio_seconds = 2 * frame_seconds + kAudioDelayFrames * audio_frame_seconds;
    const int64_t margin = 2 * std::max(largest_packet_, size) + 2 * kVideoPacketOverhead +
                           static_cast<int64_t>(audio_bytes_per_second_ * late_audio_seconds) +
                           static_cast<int64_t>(kAudioDelayFrames + 2) * kAudioPacketOverhead +
                           RealMediaOutput::kTrailerBytes + 4096;
    if (writer_->PartBytes() + margin > roll_bytes) {
      if (frames_in_part_ < 2) {
        *error = "a roll-over size of " + std::to_string(job_.roll_size_mb) +
                 " MB cannot hold the frames of this clip";
        return false;
      }
      if (!frame.key) {
        *needs_key = true;
        return true;
      }
      if (!writer_->RollOverBefore(frame.frame, error)) return false;
      ++parts_;
      Print(InfoLine("continued in \"" + PartFileName(job_.output, parts_) + "\""));
      frames_in_part_ = 0;
    }
  }
  if (!writer_->Video(frame.frame, frame.bytes.data(), static_cast<int>(size), frame.key, error))
    return false;
  largest_packet_ = std::max(largest_packet_, size);
  ++frames_in_part_;
  return true;
}

PassEnd EncoderRun::EncodingPass(int pass, const std::vector<FrameStats>* stats) {
  if (!OpenOutput()) return PassEnd::Failed;
  settings_.mode = !BitrateMode() ? RateMode::kQuality
                   : stats        ? RateMode::kTwoPass
                                  : RateMode::kOnePass;
  settings_.stats = stats;
  std::vector<Segment> segments;
  if (stats) {
    std::vector<bool> keys(stats->size());
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = (*stats)[i].key;
    segments = SegmentsAtKeys(keys, ShortestPlannedSegment(), workers_);
  } else {
    segments = FixedSegments(frames_, key_interval_, workers_);
  }
  // Every mode keeps the segments' book: the peak limit and the models
  // start from the segments before, whatever the rate.
  book_.started.assign(segments.size(), false);
  book_.budgets.assign(segments.size(), 0);
  book_.taken.assign(segments.size(), 0);
  book_.learned.assign(segments.size(), std::nullopt);
  if (BitrateMode()) PlanBits(segments, stats);
  const size_t workers = std::min(segments.size(), static_cast<size_t>(workers_));
  if (!OpenWorkers(workers)) return PassEnd::Failed;
  Progress progress(pass, false, frames_);
  progress.Frame(0, 0);
  // Two passes plan each segment from the segments up to one per worker
  // before it: the volume's plan, corrected by what they took, is what
  // keeps a fixed size (the others start from the same, looking further back).
  SegmentPass coding(
      Pointers(instances_, workers), segments, stop_, processors_.get(),
      settings_.mode == RateMode::kTwoPass ? 1 : SegmentPass::kSegmentsAheadPerWorker);
  coding_ = &coding;
  const PassEnd end = coding.Run(
      [this](const SegmentPass::Task& task, kv_video_file::VideoFile& clip, SegmentPass::Sink& sink,
             std::string* error) { return EncodeSegment(task, clip, sink, error); },
      [this](const CodedFrame& frame, bool* needs_key, std::string* error) {
        return JoinFrame(frame, needs_key, error);
      },
      [&](int64_t coded) {
        const int64_t joined = coding.Joined();
        progress.Frame(coded, joined > 0 ? static_cast<int64_t>(writer_->TotalBytes() * 8 /
                                                                Seconds(joined) / 1024)
                                         : 0);
      },
      &error_);
  coding_ = nullptr;
  if (end == PassEnd::Failed) return end;
  const int64_t done = end == PassEnd::Done ? frames_ : coding.Joined();
  if (sound_) sound_->EndAfter(done);
  if (!writer_->Finish(done, &error_)) return PassEnd::Failed;
  return end;
}

std::string EncoderRun::NeededBitrate() const {
  const double coarsest =
      plan_ ? plan_->LeastBitsFrom(0) * std::clamp(book_.predicted_bits > 0
                                                       ? book_.actual_bits / book_.predicted_bits
                                                       : 1.0,
                                                   0.5, 2.0)
            : book_.coarsest_bits;
  const double bits = coarsest + 8 * (audio_bytes_per_second_ * Seconds(frames_) +
                                      static_cast<double>(frames_ * kVideoPacketOverhead));
  return std::to_string(static_cast<int64_t>(std::ceil(bits / Seconds(frames_))));
}

int EncoderRun::Finished(PassEnd end, std::chrono::steady_clock::time_point started) {
  std::string sound_error;
  if (sound_ && !sound_->Wait(&sound_error) && end != PassEnd::Failed) {
    end = PassEnd::Failed;
    error_ = sound_error;
  }
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
       static_cast<double>(book_.dropped) > kMostFramesDropped * static_cast<double>(frames_))) {
    const std::string needed = NeededBitrate();
    writer_->Discard();
    return Fail("avgBitrate " + std::to_string(job_.average_bitrate) +
                " bit/s is too low for this clip: it needs at least " + needed +
                " bit/s at the coarsest quantiser");
  }
  if (book_.recoded > 0)
    Print(WarningLine(std::to_string(book_.recoded) + " of " + std::to_string(frames_) +
                      " frames were coded again coarser to fit the file's packets"));
  if (book_.dropped > 0)
    Print(WarningLine(std::to_string(book_.dropped) + " of " + std::to_string(frames_) +
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
  // The sound is coded once, beside the first pass, from the script's first
  // instance.
  if (with_audio_) {
    audio_store_ = std::make_unique<AudioStore>();
    if (!audio_store_->Ok()) return Fail("cannot make a temporary file for the sound");
    sound_ =
        std::make_unique<SoundCoder>(clip_, *audio_, *audio_store_, frames_, processors_.get());
  }
  const bool two_pass = job_.two_pass && BitrateMode();
  std::vector<FrameStats> stats;
  if (two_pass) {
    const PassEnd analysed = AnalysisPass(&stats);
    if (analysed != PassEnd::Done) {
      if (sound_) sound_->EndAfter(0);
      if (analysed == PassEnd::Failed) return Fail(error_);
      Print(InfoLine("stopped during the analysis pass: no file was written"));
      return kExitStopped;
    }
    // The encoding pass starts while the sound may still be coded: each
    // segment plans with the sound before it and as expected for the rest;
    // a budget surely too low is refused with the sound as coded so far.
    const TwoPassRateControl plan(stats, LeastFrameBits());
    AudioStore::Tally coded;
    const double least = plan.LeastBitsFrom(0) / 8 + Sound(-1, &coded).bytes +
                         static_cast<double>(frames_) * kVideoPacketOverhead;
    if (least > budget_bytes_) {
      return Fail("avgBitrate " + std::to_string(job_.average_bitrate) +
                  " bit/s is too low for this clip: it needs at least " +
                  std::to_string(static_cast<int64_t>(std::ceil(least * 8 / Seconds(frames_)))) +
                  " bit/s at the coarsest quantiser");
    }
  }
  return Finished(EncodingPass(two_pass ? 2 : 1, two_pass ? &stats : nullptr), started);
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
