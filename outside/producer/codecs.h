#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

struct SwrContext;
struct AVAudioFifo;

namespace producer {

// Encoder settings for a speed-quality level from 0 (fastest) to 100.
struct VideoCodecSettings {
  int width = 0;
  int height = 0;
  AVRational frame_rate{25, 1};
  int complexity = 90;
  bool analysis_pass = false;  // write statistics, key frames chosen by the codec
  int key_interval = 250;      // frames; the analysis pass's limit
  int64_t bit_rate = 0;        // for the file header
};

// The codec's options for a complexity: libavcodec's defaults below 60 (the
// analysis pass's 50 among them), a wider motion search from 60 that also
// compares the chroma from 70 and starts from more predictors from 80,
// rate-distortion decisions with trellis quantisation at 100.
std::vector<std::pair<std::string, std::string>> VideoCodecOptions(int complexity);

// RealVideo 2.0 through libavcodec, one quantiser per frame.
class VideoEncoder {
 public:
  ~VideoEncoder();
  static std::unique_ptr<VideoEncoder> Open(const VideoCodecSettings& settings, std::string* error);

  struct Coded {
    std::vector<uint8_t> bytes;
    bool key = false;
  };
  // Codes `picture` (null: the end) at quantiser `q`; a key frame when
  // `key`. Frames come out at once: the codec has no delay.
  bool Encode(AVFrame* picture, int q, bool key, std::vector<Coded>* out, std::string* error);

  // The statistics of the frames coded so far (analysis pass).
  const std::string& Statistics() const { return statistics_; }
  const AVCodecContext* Context() const { return context_; }

 private:
  VideoEncoder() = default;
  AVCodecContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::string statistics_;
};

// AAC through libavcodec, fed with interleaved floats at the clip's rate
// and channels, resampled and mixed to the codec's.
class AudioEncoder {
 public:
  ~AudioEncoder();
  // The sample rate for a bit rate per channel: low rates code better at a
  // lower sample rate.
  static int SampleRateFor(int kbps, int channels, int input_rate);
  static std::unique_ptr<AudioEncoder> Open(int input_rate, int input_channels, int kbps,
                                            int channels, std::string* error);

  // A coded frame and the clip time at which it starts.
  using Sink = std::function<bool(const uint8_t* data, int size, double start_seconds)>;
  bool Push(const float* samples, int64_t count, const Sink& sink, std::string* error);
  // Codes what is left.
  bool Finish(const Sink& sink, std::string* error);

  const AVCodecContext* Context() const { return context_; }
  // Seconds of sound one coded frame holds.
  double FrameSeconds() const;
  // The most a second of the coded sound can take.
  double MostBytesPerSecond() const;

 private:
  AudioEncoder() = default;
  bool Drain(bool flush, const Sink& sink, std::string* error);
  bool Feed(AVFrame* frame, const Sink& sink, std::string* error);

  AVCodecContext* context_ = nullptr;
  SwrContext* resampler_ = nullptr;
  AVAudioFifo* fifo_ = nullptr;
  AVPacket* packet_ = nullptr;
  int input_channels_ = 0;
  // The codec's priming samples are taken off the front of the sound, so
  // that decoded sound starts where the clip's does.
  int64_t to_skip_ = 0;
  int64_t coded_frames_ = 0;
};

// Coded audio frames kept in an unnamed temporary file: added by the thread
// that codes the sound, read by the one that writes the file, which waits
// for the frames it needs.
class AudioStore {
 public:
  AudioStore();
  ~AudioStore();
  bool Ok() const { return file_ != nullptr; }
  bool Add(const uint8_t* data, int size, double start_seconds);
  // No more frames come.
  void End();
  // Waits until every frame that starts before `seconds` is in the store,
  // or no more come.
  void WaitFor(double seconds) const;
  // Waits until no more frames come; false when `halted` said to give up
  // first (it is asked every few tens of milliseconds).
  bool WaitEnd(const std::function<bool()>& halted) const;
  // The frames that start before `seconds`, once they are all in (`ended`
  // when no frame starts later): the same at whatever moment it is asked,
  // so that what is planned from it does not depend on the sound's progress.
  struct Tally {
    size_t frames = 0;
    int64_t bytes = 0;
    bool ended = false;
  };
  Tally Before(double seconds) const;
  // What the store holds at this moment.
  Tally Now() const;
  size_t Count() const;
  // Frame `i`: its start and bytes.
  double StartOf(size_t i) const;
  bool Read(size_t i, std::vector<uint8_t>* bytes);

 private:
  struct Entry {
    int64_t offset;
    int size;
    double start;
  };
  mutable std::mutex mutex_;
  mutable std::condition_variable added_;
  std::FILE* file_ = nullptr;
  std::vector<Entry> frames_;
  int64_t payload_bytes_ = 0;
  bool ended_ = false;
};

}  // namespace producer
