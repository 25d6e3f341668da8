#include "outside/producer/codecs.h"

#include <algorithm>
#include <chrono>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace producer {
namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof text);
  return text;
}

// An AAC frame holds at most this many bits per channel (the decoder's
// input buffer).
constexpr double kMostAacBitsPerChannelFrame = 6144;

}  // namespace

std::vector<std::pair<std::string, std::string>> VideoCodecOptions(int complexity) {
  // Each level adds what buys the most picture at the same size for its
  // cost (tools/producer_bench --levels measures them): below 60,
  // libavcodec's defaults; from 60 the motion search starts from more
  // predictors in a wider diamond, from 70 it compares the chroma too, from
  // 80 wider still; at 100 rate-distortion decisions with trellis
  // quantisation, which cost half as much again.
  if (complexity < 60) return {};
  if (complexity < 70) return {{"last_pred", "2"}, {"dia_size", "2"}};
  if (complexity < 80)
    return {{"last_pred", "2"}, {"dia_size", "2"}, {"cmp", "chroma"}, {"subcmp", "chroma"}};
  const std::vector<std::pair<std::string, std::string>> search = {
      {"last_pred", "3"}, {"dia_size", "3"}, {"cmp", "chroma"}, {"subcmp", "chroma"}};
  if (complexity < 100) return search;
  std::vector<std::pair<std::string, std::string>> finest = search;
  finest.insert(finest.end(), {{"mbd", "rd"}, {"trellis", "1"}});
  return finest;
}

VideoEncoder::~VideoEncoder() {
  avcodec_free_context(&context_);
  av_packet_free(&packet_);
}

std::unique_ptr<VideoEncoder> VideoEncoder::Open(const VideoCodecSettings& settings,
                                                 std::string* error) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_RV20);
  if (!codec) {
    *error = "this FFmpeg has no RealVideo 2.0 encoder";
    return nullptr;
  }
  std::unique_ptr<VideoEncoder> encoder(new VideoEncoder());
  AVCodecContext* c = encoder->context_ = avcodec_alloc_context3(codec);
  encoder->packet_ = av_packet_alloc();
  if (!c || !encoder->packet_) {
    *error = "out of memory";
    return nullptr;
  }
  c->width = settings.width;
  c->height = settings.height;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = av_inv_q(settings.frame_rate);
  c->framerate = settings.frame_rate;
  c->bit_rate = settings.bit_rate;
  c->max_b_frames = 0;
  c->flags |= AV_CODEC_FLAG_QSCALE;
  c->global_quality = 4 * FF_QP2LAMBDA;
  AVDictionary* options = nullptr;
  if (settings.analysis_pass) {
    c->flags |= AV_CODEC_FLAG_PASS1;
    c->gop_size = std::max(1, settings.key_interval);
  } else {
    // Key frames are placed by the caller alone. The scene-change threshold
    // is the codec's own option (set on the context, it was not found and
    // the codec made key frames of grainy frames the rate control took for
    // other frames).
    c->gop_size = 1 << 30;
    av_dict_set(&options, "sc_threshold", "1000000000", 0);
  }
  for (const auto& [key, value] : VideoCodecOptions(settings.complexity))
    av_dict_set(&options, key.c_str(), value.c_str(), 0);
  const int rc = avcodec_open2(c, codec, &options);
  // An option the codec did not take is left in the dictionary.
  const AVDictionaryEntry* left = av_dict_get(options, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  const std::string refused = left ? left->key : "";
  av_dict_free(&options);
  if (rc >= 0 && !refused.empty()) {
    *error = "the RealVideo 2.0 encoder has no option " + refused;
    return nullptr;
  }
  if (rc < 0) {
    *error = "cannot open the RealVideo 2.0 encoder for " + std::to_string(settings.width) + "x" +
             std::to_string(settings.height) + ": " + AvError(rc);
    return nullptr;
  }
  return encoder;
}

bool VideoEncoder::Encode(AVFrame* picture, int q, bool key, std::vector<Coded>* out,
                          std::string* error) {
  if (picture) {
    picture->quality = q * FF_QP2LAMBDA;
    picture->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  }
  int rc = avcodec_send_frame(context_, picture);
  if (rc < 0 && rc != AVERROR_EOF) {
    *error = "the video encoder refused a frame: " + AvError(rc);
    return false;
  }
  for (;;) {
    rc = avcodec_receive_packet(context_, packet_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
    if (rc < 0) {
      *error = "the video encoder failed: " + AvError(rc);
      return false;
    }
    Coded coded;
    coded.bytes.assign(packet_->data, packet_->data + packet_->size);
    coded.key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    out->push_back(std::move(coded));
    av_packet_unref(packet_);
    if (context_->stats_out) statistics_ += context_->stats_out;
  }
  return true;
}

AudioEncoder::~AudioEncoder() {
  avcodec_free_context(&context_);
  swr_free(&resampler_);
  if (fifo_) av_audio_fifo_free(fifo_);
  av_packet_free(&packet_);
}

int AudioEncoder::SampleRateFor(int kbps, int channels, int input_rate) {
  const int per_channel = kbps / std::max(1, channels);
  if (per_channel >= 40) return input_rate == 44100 ? 44100 : 48000;
  if (per_channel >= 20) return 32000;
  if (per_channel >= 10) return 24000;
  return 16000;
}

std::unique_ptr<AudioEncoder> AudioEncoder::Open(int input_rate, int input_channels, int kbps,
                                                 int channels, std::string* error) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!codec) {
    *error = "this FFmpeg has no AAC encoder";
    return nullptr;
  }
  std::unique_ptr<AudioEncoder> encoder(new AudioEncoder());
  AVCodecContext* c = encoder->context_ = avcodec_alloc_context3(codec);
  encoder->packet_ = av_packet_alloc();
  if (!c || !encoder->packet_) {
    *error = "out of memory";
    return nullptr;
  }
  c->sample_rate = SampleRateFor(kbps, channels, input_rate);
  av_channel_layout_default(&c->ch_layout, channels);
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  c->bit_rate = static_cast<int64_t>(kbps) * 1024;
  c->time_base = AVRational{1, c->sample_rate};
  int rc = avcodec_open2(c, codec, nullptr);
  if (rc < 0) {
    *error = "cannot open the AAC encoder at " + std::to_string(kbps) + " Kbps: " + AvError(rc);
    return nullptr;
  }
  AVChannelLayout input_layout;
  av_channel_layout_default(&input_layout, input_channels);
  rc = swr_alloc_set_opts2(&encoder->resampler_, &c->ch_layout, AV_SAMPLE_FMT_FLTP, c->sample_rate,
                           &input_layout, AV_SAMPLE_FMT_FLT, input_rate, 0, nullptr);
  av_channel_layout_uninit(&input_layout);
  if (rc < 0 || swr_init(encoder->resampler_) < 0) {
    *error = "cannot convert the sound to the AAC encoder's format";
    return nullptr;
  }
  encoder->fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, c->frame_size * 4);
  if (!encoder->fifo_) {
    *error = "out of memory";
    return nullptr;
  }
  encoder->input_channels_ = input_channels;
  encoder->to_skip_ = c->initial_padding;
  return encoder;
}

double AudioEncoder::FrameSeconds() const {
  return static_cast<double>(context_->frame_size) / context_->sample_rate;
}

double AudioEncoder::MostBytesPerSecond() const {
  return kMostAacBitsPerChannelFrame / 8.0 * context_->ch_layout.nb_channels / FrameSeconds();
}

bool AudioEncoder::Push(const float* samples, int64_t count, const Sink& sink, std::string* error) {
  if (count <= 0) return true;
  const int channels = context_->ch_layout.nb_channels;
  const int out_count = swr_get_out_samples(resampler_, static_cast<int>(count));
  std::vector<float> planes(static_cast<size_t>(std::max(out_count, 1)) * channels);
  std::vector<uint8_t*> out(static_cast<size_t>(channels));
  for (int ch = 0; ch < channels; ++ch)
    out[ch] = reinterpret_cast<uint8_t*>(planes.data() + static_cast<size_t>(ch) * out_count);
  const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
  int got = swr_convert(resampler_, out.data(), out_count, in, static_cast<int>(count));
  if (got < 0) {
    *error = "cannot resample the sound";
    return false;
  }
  int skip = static_cast<int>(std::min<int64_t>(to_skip_, got));
  to_skip_ -= skip;
  if (got > skip) {
    for (int ch = 0; ch < channels; ++ch) out[ch] += static_cast<size_t>(skip) * sizeof(float);
    if (av_audio_fifo_write(fifo_, reinterpret_cast<void**>(out.data()), got - skip) < 0) {
      *error = "out of memory";
      return false;
    }
  }
  return Drain(false, sink, error);
}

bool AudioEncoder::Feed(AVFrame* frame, const Sink& sink, std::string* error) {
  int rc = avcodec_send_frame(context_, frame);
  if (rc < 0 && rc != AVERROR_EOF) {
    *error = "the audio encoder refused a frame: " + AvError(rc);
    return false;
  }
  for (;;) {
    rc = avcodec_receive_packet(context_, packet_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) {
      *error = "the audio encoder failed: " + AvError(rc);
      return false;
    }
    // Frame k of the output plays from k frame lengths on: the priming was
    // taken off the input.
    const double start = static_cast<double>(coded_frames_) * FrameSeconds();
    ++coded_frames_;
    const bool ok = sink(packet_->data, packet_->size, start);
    av_packet_unref(packet_);
    if (!ok) {
      *error = "cannot write the sound";
      return false;
    }
  }
}

bool AudioEncoder::Drain(bool flush, const Sink& sink, std::string* error) {
  const int frame_size = context_->frame_size;
  while (av_audio_fifo_size(fifo_) >= frame_size || (flush && av_audio_fifo_size(fifo_) > 0)) {
    AVFrame* frame = av_frame_alloc();
    frame->nb_samples = frame_size;
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = context_->sample_rate;
    av_channel_layout_copy(&frame->ch_layout, &context_->ch_layout);
    if (av_frame_get_buffer(frame, 0) < 0) {
      av_frame_free(&frame);
      *error = "out of memory";
      return false;
    }
    av_samples_set_silence(frame->data, 0, frame_size, context_->ch_layout.nb_channels,
                           AV_SAMPLE_FMT_FLTP);
    av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame->data), frame_size);
    frame->pts = coded_frames_ * frame_size;
    const bool ok = Feed(frame, sink, error);
    av_frame_free(&frame);
    if (!ok) return false;
  }
  return true;
}

bool AudioEncoder::Finish(const Sink& sink, std::string* error) {
  // What the resampler still holds, then silence for the priming taken off
  // the front, so that the sound lasts as long as the clip.
  const int channels = context_->ch_layout.nb_channels;
  const int pending = swr_get_out_samples(resampler_, 0);
  if (pending > 0) {
    std::vector<float> planes(static_cast<size_t>(pending) * channels);
    std::vector<uint8_t*> out(static_cast<size_t>(channels));
    for (int ch = 0; ch < channels; ++ch)
      out[ch] = reinterpret_cast<uint8_t*>(planes.data() + static_cast<size_t>(ch) * pending);
    const int got = swr_convert(resampler_, out.data(), pending, nullptr, 0);
    if (got > 0) av_audio_fifo_write(fifo_, reinterpret_cast<void**>(out.data()), got);
  }
  const int padding = context_->initial_padding;
  if (padding > 0) {
    std::vector<float> silence(static_cast<size_t>(padding) * channels, 0.0f);
    std::vector<uint8_t*> out(static_cast<size_t>(channels));
    for (int ch = 0; ch < channels; ++ch)
      out[ch] = reinterpret_cast<uint8_t*>(silence.data() + static_cast<size_t>(ch) * padding);
    av_audio_fifo_write(fifo_, reinterpret_cast<void**>(out.data()), padding);
  }
  if (!Drain(true, sink, error)) return false;
  return Feed(nullptr, sink, error);
}

AudioStore::AudioStore() : file_(std::tmpfile()) {}

AudioStore::~AudioStore() {
  if (file_) std::fclose(file_);
}

bool AudioStore::Add(const uint8_t* data, int size, double start_seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_ || std::fseek(file_, 0, SEEK_END) != 0) return false;
  const int64_t offset = std::ftell(file_);
  if (offset < 0 ||
      std::fwrite(data, 1, static_cast<size_t>(size), file_) != static_cast<size_t>(size))
    return false;
  frames_.push_back(Entry{offset, size, start_seconds});
  payload_bytes_ += size;
  added_.notify_all();
  return true;
}

void AudioStore::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  added_.notify_all();
}

void AudioStore::WaitFor(double seconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  added_.wait(lock,
              [&] { return ended_ || (!frames_.empty() && frames_.back().start >= seconds); });
}

bool AudioStore::WaitEnd(const std::function<bool()>& halted) const {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ended_) {
    if (halted()) return false;
    added_.wait_for(lock, std::chrono::milliseconds(50));
  }
  return true;
}

AudioStore::Tally AudioStore::Now() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Tally{frames_.size(), payload_bytes_, ended_};
}

AudioStore::Tally AudioStore::Before(double seconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  added_.wait(lock,
              [&] { return ended_ || (!frames_.empty() && frames_.back().start >= seconds); });
  Tally tally{0, 0, true};
  for (const Entry& frame : frames_) {
    if (frame.start >= seconds) {
      tally.ended = false;
      break;
    }
    ++tally.frames;
    tally.bytes += frame.size;
  }
  return tally;
}

size_t AudioStore::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.size();
}

double AudioStore::StartOf(size_t i) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_[i].start;
}

bool AudioStore::Read(size_t i, std::vector<uint8_t>* bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_ || i >= frames_.size()) return false;
  bytes->resize(static_cast<size_t>(frames_[i].size));
  return std::fseek(file_, frames_[i].offset, SEEK_SET) == 0 &&
         std::fread(bytes->data(), 1, bytes->size(), file_) == bytes->size();
}

}  // namespace producer
