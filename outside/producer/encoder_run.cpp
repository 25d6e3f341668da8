#include "outside/producer/encoder_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <memory>
#include <optional>

#include "outside/frameserver/video_file.h"
#include "outside/producer/codecs.h"
#include "outside/producer/console.h"
#include "outside/producer/frame_source.h"
#include "outside/producer/job_file.h"
#include "outside/producer/rate_control.h"
#include "outside/producer/rm_output.h"

namespace producer {
namespace {

// Bytes the container adds to a coded frame: the packet header, and for
// video the frame header inside the packet.
constexpr int64_t kVideoPacketOverhead = 24;
constexpr int64_t kAudioPacketOverhead = 12;
// The share of the budget a bit-rate encoding aims at: the rest absorbs what
// the last frames get wrong, so that the file never grows past the budget.
constexpr double kAimShare = 0.995;
// A frame whose predicted size passes this share of the packet limit is
// coded coarser.
constexpr double kPacketGuardShare = 0.5;

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

enum class PassEnd { Done, Stopped, Failed };

class EncoderRun {
 public:
  EncoderRun(const ProducerJob& job, kv_video_file::VideoFile& clip, const std::atomic<bool>& stop)
      : job_(job), clip_(clip), info_(clip.Info()), stop_(stop) {}

  int Execute();

 private:
  bool Prepare();
  PassEnd AnalysisPass(std::vector<FrameStats>* stats);
  PassEnd EncodingPass(int pass, TwoPassRateControl* plan);
  bool WriteAudioBefore(double seconds);
  double Seconds(int64_t frame) const { return static_cast<double>(frame) * fps_.den / fps_.num; }
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

  std::unique_ptr<AudioEncoder> audio_;
  std::unique_ptr<AudioStore> audio_store_;  // two passes: the sound coded in the first
  std::deque<std::pair<std::vector<uint8_t>, double>> audio_pending_;  // one pass
  size_t audio_next_ = 0;                                              // next stored frame to write
  int64_t audio_written_bytes_ = 0;
  std::unique_ptr<RealMediaOutput> output_;
  std::string error_;
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
  const double audio_bps = with_audio_ ? job_.audio_kbps * 1024.0 : 0;
  const int q = static_cast<int>(AnalysisQuantizer(std::max(1.0, job_.average_bitrate - audio_bps),
                                                   width_, height_, av_q2d(fps_)));
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
  FrameSource source(clip_, width_, height_, with_audio_, frames_);
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

bool EncoderRun::WriteAudioBefore(double seconds) {
  if (audio_store_) {
    std::vector<uint8_t> bytes;
    while (audio_next_ < audio_store_->Count() && audio_store_->StartOf(audio_next_) < seconds) {
      if (!audio_store_->Read(audio_next_, &bytes)) {
        error_ = "cannot read the sound back from its temporary file";
        return false;
      }
      if (!output_->WriteAudio(bytes.data(), static_cast<int>(bytes.size()),
                               audio_store_->StartOf(audio_next_), &error_))
        return false;
      audio_written_bytes_ += static_cast<int64_t>(bytes.size());
      ++audio_next_;
    }
    return true;
  }
  while (!audio_pending_.empty() && audio_pending_.front().second < seconds) {
    const auto& [bytes, start] = audio_pending_.front();
    if (!output_->WriteAudio(bytes.data(), static_cast<int>(bytes.size()), start, &error_))
      return false;
    audio_written_bytes_ += static_cast<int64_t>(bytes.size());
    audio_pending_.pop_front();
  }
  return true;
}

PassEnd EncoderRun::EncodingPass(int pass, TwoPassRateControl* plan) {
  VideoCodecSettings settings;
  settings.width = width_;
  settings.height = height_;
  settings.frame_rate = fps_;
  settings.complexity = job_.encoder_complexity;
  settings.bit_rate =
      job_.encoding_type == EncodingType::Bitrate
          ? std::max<int64_t>(1, job_.average_bitrate - (with_audio_ ? job_.audio_kbps * 1024 : 0))
          : 0;
  std::unique_ptr<VideoEncoder> video = VideoEncoder::Open(settings, &error_);
  if (!video) return PassEnd::Failed;
  ClipText text{job_.title, job_.author, job_.copyright, job_.description};
  output_ = RealMediaOutput::Create(job_.output, text, video->Context(),
                                    with_audio_ ? audio_->Context() : nullptr, &error_);
  if (!output_) return PassEnd::Failed;
  const int64_t header_bytes = output_->PartBytes();

  const bool sound_inline = with_audio_ && !audio_store_;
  AudioEncoder::Sink queue = [this](const uint8_t* data, int size, double start) {
    audio_pending_.emplace_back(std::vector<uint8_t>(data, data + size), start);
    return true;
  };
  const bool bitrate_mode = job_.encoding_type == EncodingType::Bitrate;
  const double aim = budget_bytes_ * kAimShare;
  const double audio_bytes_per_second = with_audio_ ? job_.audio_kbps * 1024.0 / 8 : 0;
  const double audio_frame_seconds = with_audio_ ? audio_->FrameSeconds() : 1;
  const int64_t roll_bytes = job_.roll_size_mb * 1048576;
  OnePassRateControl one_pass(
      AnalysisQuantizer(std::max(1.0, job_.average_bitrate - audio_bytes_per_second * 8), width_,
                        height_, av_q2d(fps_)));
  QuantizerDither dither;

  FrameSource source(clip_, width_, height_, sound_inline, frames_);
  Progress progress(pass, false, frames_);
  progress.Frame(0, 0);
  std::vector<VideoEncoder::Coded> coded;
  int64_t since_key = 0, frames_in_part = 0, largest_packet = 0;
  int64_t done = 0;
  for (int64_t i = 0; i < frames_; ++i) {
    if (stop_) break;
    SourceFrame frame;
    if (!source.Next(&frame, &error_)) return PassEnd::Failed;
    if (sound_inline &&
        !audio_->Push(frame.sound.data(), static_cast<int64_t>(frame.sound.size()) / info_.channels,
                      queue, &error_))
      return PassEnd::Failed;
    const double start = Seconds(i), end = Seconds(i + 1);
    bool key = i == 0 || since_key >= key_interval_ || (plan && plan->IsKey(i));

    if (roll_bytes > 0 && frames_in_part > 0) {
      const int64_t margin = 2 * largest_packet + 2 * kVideoPacketOverhead +
                             static_cast<int64_t>(2 * audio_bytes_per_second * (end - start)) +
                             RealMediaOutput::kTrailerBytes + 4096;
      if (output_->PartBytes() + margin > roll_bytes) {
        if (frames_in_part < 2) {
          error_ = "a roll-over size of " + std::to_string(job_.roll_size_mb) +
                   " MB cannot hold the frames of this clip";
          return PassEnd::Failed;
        }
        if (!WriteAudioBefore(start) || !output_->StartNextPart(start, &error_))
          return PassEnd::Failed;
        Print(InfoLine("continued in \"" + output_->Files().back() + "\""));
        frames_in_part = 0;
        key = true;
      }
    }
    if (!WriteAudioBefore(end)) return PassEnd::Failed;

    double q = QualityQuantizer(job_.quality);
    if (bitrate_mode) {
      const int64_t frames_left = frames_ - i;
      const double audio_left =
          audio_store_ ? static_cast<double>(audio_store_->PayloadBytes() - audio_written_bytes_)
                       : audio_bytes_per_second * (Seconds(frames_) - start);
      const double audio_packets_left =
          audio_store_ ? static_cast<double>(audio_store_->Count() - audio_next_)
                       : (Seconds(frames_) - start) / audio_frame_seconds;
      double overhead = static_cast<double>(frames_left * kVideoPacketOverhead) +
                        audio_packets_left * kAudioPacketOverhead + RealMediaOutput::kTrailerBytes;
      if (roll_bytes > 0)
        overhead += std::floor((aim - static_cast<double>(output_->TotalBytes()) +
                                static_cast<double>(output_->PartBytes())) /
                               static_cast<double>(roll_bytes)) *
                    static_cast<double>(header_bytes + RealMediaOutput::kTrailerBytes);
      const double bits_left =
          8 * (aim - static_cast<double>(output_->TotalBytes()) - audio_left - overhead);
      if (plan) {
        q = plan->Quantizer(static_cast<size_t>(i), bits_left);
        // Very large frames would not fit into one packet of the container.
        const double guard = kMaxVideoPacketBytes * 8.0 * kPacketGuardShare;
        while (q < kMaxQuantizer && plan->PredictedBits(static_cast<size_t>(i), q) > guard) q += 1;
      } else {
        q = one_pass.Quantizer(key, bits_left, frames_left);
      }
    }
    const int quantizer = dither.Next(q);
    coded.clear();
    if (!video->Encode(frame.picture, quantizer, key, &coded, &error_)) return PassEnd::Failed;
    for (const VideoEncoder::Coded& c : coded) {
      const int size = static_cast<int>(c.bytes.size());
      if (!output_->WriteVideo(c.bytes.data(), size, c.key, &error_)) return PassEnd::Failed;
      largest_packet = std::max<int64_t>(largest_packet, size);
      if (plan) plan->FrameDone(static_cast<size_t>(i), quantizer, size * 8.0);
      if (!plan) one_pass.FrameDone(c.key, quantizer, size * 8.0);
      since_key = c.key ? 1 : since_key + 1;
      ++frames_in_part;
    }
    done = i + 1;
    const double seconds = Seconds(done);
    progress.Frame(done, static_cast<int64_t>(output_->TotalBytes() * 8 / seconds / 1024));
  }
  const bool stopped = done < frames_;
  coded.clear();
  if (!video->Encode(nullptr, 0, false, &coded, &error_)) return PassEnd::Failed;
  if (sound_inline && !stopped && !audio_->Finish(queue, &error_)) return PassEnd::Failed;
  if (!WriteAudioBefore(Seconds(done)) || !output_->Finish(&error_)) return PassEnd::Failed;
  return stopped ? PassEnd::Stopped : PassEnd::Done;
}

int EncoderRun::Execute() {
  if (!Prepare()) return Fail(error_);
  const auto started = std::chrono::steady_clock::now();
  Print(StartingLine());
  const bool two_pass = job_.two_pass && job_.encoding_type == EncodingType::Bitrate;
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
      const double seconds = Seconds(frames_);
      return Fail("avgBitrate " + std::to_string(job_.average_bitrate) +
                  " bit/s is too low for this clip: it needs at least " +
                  std::to_string(static_cast<int64_t>(std::ceil(least * 8 / seconds))) +
                  " bit/s at the coarsest quantiser");
    }
  }
  const PassEnd end = EncodingPass(two_pass ? 2 : 1, plan.get());
  if (end == PassEnd::Failed) {
    // What was written so far is ended properly, so that it still plays.
    if (output_) {
      std::string ignored;
      output_->Finish(&ignored);
    }
    return Fail(error_);
  }
  std::string files;
  for (const std::string& file : output_->Files())
    files += (files.empty() ? "\"" : ", \"") + file + "\"";
  if (end == PassEnd::Stopped) {
    Print(InfoLine("stopped by request: " + files + " is complete up to there"));
    return kExitStopped;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  Print(DoneLine(files, output_->TotalBytes(), seconds));
  return kExitDone;
}

}  // namespace

int RunEncoderJob(const std::string& job_path, const std::atomic<bool>& stop) {
  std::string error;
  std::optional<ProducerJob> job = ReadProducerJob(job_path, &error);
  if (!job) {
    Print(ErrorLine(job_path + ": " + error));
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
