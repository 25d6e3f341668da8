#include "outside/qmaudio/audio_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qmaudio {

namespace {

// A map of a two-hour title is a few megabytes.
constexpr size_t kMaxMapBytes = 256 << 20;
// The header walk reads the stream through a window of this size.
constexpr size_t kWindowBytes = 64 * 1024;
// Frames decoded before a wanted one after a jump: the decoders' overlap
// and filter histories reach back one frame; one more for safety.
constexpr int kPrimeFrames = 2;
constexpr size_t kKeptFrames = 8;
// What follows a DTS core up to the next core (its extensions) is decoded
// with it, up to this size; a longer stretch is a gap in the stream.
constexpr int64_t kMaxExtensionBytes = 16 * 1024;
// LPCM is cut into packets of this many samples (a multiple of every
// sample group's size).
constexpr int kLpcmFrameSamples = 960;
// A time line within this of where the sound runs on to leaves it running:
// the time stamps of a stream that runs on say the same to a sample or two,
// and an LPCM time line names the packet's start, not its first frame.
constexpr int kAnchorToleranceMs = 2;
constexpr int kLpcmHeaderBytes = 3;

bool ReadText(const std::string& path, std::string* text) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  text->clear();
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text->size() <= kMaxMapBytes)
    text->append(buffer, n);
  const bool ok = !std::ferror(f) && text->size() <= kMaxMapBytes;
  std::fclose(f);
  return ok;
}

// A window over the stream that moves forward with the header walk.
class Window {
 public:
  explicit Window(tessmar::formats::VirtualFile& file) : file_(file), buffer_(kWindowBytes) {}
  // Up to `wanted` bytes at `position`; *got says how many (fewer at the end).
  const uint8_t* At(int64_t position, size_t wanted, size_t* got) {
    if (position < start_ || position + static_cast<int64_t>(wanted) > start_ + length_) {
      start_ = position;
      length_ = static_cast<int64_t>(file_.Read(position, buffer_.data(), buffer_.size()));
    }
    *got = static_cast<size_t>(
        std::clamp<int64_t>(start_ + length_ - position, 0, static_cast<int64_t>(wanted)));
    return buffer_.data() + (position - start_);
  }

 private:
  tessmar::formats::VirtualFile& file_;
  std::vector<uint8_t> buffer_;
  int64_t start_ = 0;
  int64_t length_ = 0;
};

AVCodecID CodecId(Codec codec, int mpeg_layer) {
  switch (codec) {
    case Codec::kAc3:
      return AV_CODEC_ID_AC3;
    case Codec::kDts:
      return AV_CODEC_ID_DTS;
    case Codec::kMpegAudio:
      return mpeg_layer == 1   ? AV_CODEC_ID_MP1
             : mpeg_layer == 3 ? AV_CODEC_ID_MP3
                               : AV_CODEC_ID_MP2;
    default:
      return AV_CODEC_ID_PCM_DVD;
  }
}

}  // namespace

std::unique_ptr<AudioSource> AudioSource::Open(const std::string& map_path,
                                               const AudioSettings& settings, std::string* error) {
  std::unique_ptr<AudioSource> source(new AudioSource());
  if (!source->Init(map_path, settings, error)) return nullptr;
  return source;
}

AudioSource::~AudioSource() {
  avcodec_free_context(&codec_);
  av_packet_free(&packet_);
  av_frame_free(&picture_);
  swr_free(&mixer_);
}

bool AudioSource::Init(const std::string& map_path, const AudioSettings& settings,
                       std::string* error) {
  settings_ = settings;
  std::string text;
  tessmar::formats::VirtualFileMap map;
  if (!ReadText(map_path, &text)) {
    *error = "cannot read the audio map \"" + map_path + "\"";
    return false;
  }
  if (!tessmar::formats::ParseVirtualFileMap(text, &map)) {
    *error = "\"" + map_path + "\" is not a complete audio map";
    return false;
  }
  if (!file_.Open(map)) {
    *error = "the files of \"" + map_path + "\" cannot be read or have changed";
    return false;
  }
  starts_.assign(1, 0);
  if (settings_.codec == Codec::kLpcm) {
    std::vector<int64_t> cuts;
    for (const tessmar::formats::MapAnchor& a : map.anchors) cuts.push_back(a.start);
    CutLpcm(cuts);
  } else {
    FindFrames();
  }
  if (frames_.empty() || sample_rate_ <= 0) {
    *error = "\"" + map_path + "\" holds no audio frame of its kind";
    return false;
  }
  Place(map.anchors);
  packet_ = av_packet_alloc();
  picture_ = av_frame_alloc();
  if (!packet_ || !picture_) {
    *error = "out of memory";
    return false;
  }
  return ResetDecoder(error);
}

void AudioSource::FindFrames() {
  Window window(file_);
  const int64_t size = file_.Size();
  const Codec codec = settings_.codec;
  int64_t position = 0;
  bool in_step = false;  // the last frame ended where this one starts
  FrameHeader h, next;
  size_t got;
  while (position < size) {
    const uint8_t* p = window.At(position, kHeaderBytes, &got);
    if (ParseHeader(codec, p, got, &h) && position + h.bytes <= size) {
      const int64_t after = position + h.bytes;
      const uint8_t* q = window.At(after, kHeaderBytes, &got);
      // Outside the frames' steps a header counts only with its successor,
      // so that bytes that look like one are passed over.
      if (in_step || after == size || ParseHeader(codec, q, got, &next)) {
        if (frames_.empty()) sample_rate_ = h.sample_rate;
        frames_.push_back({position, h.bytes});
        starts_.push_back(starts_.back() + h.samples);
        position = after;
        in_step = true;
        continue;
      }
    }
    // Out of step: look for the next header from the following byte.
    const int64_t lost = position;
    const int64_t from = in_step ? position : position + 1;
    in_step = false;
    position = from;
    const uint8_t first = codec == Codec::kAc3 ? 0x0B : codec == Codec::kDts ? 0x7F : 0xFF;
    while (position < size) {
      const uint8_t* w = window.At(position, kWindowBytes, &got);
      const void* hit = got ? std::memchr(w, first, got) : nullptr;
      if (!hit) {
        position += static_cast<int64_t>(got ? got : 1);
        continue;
      }
      position += static_cast<const uint8_t*>(hit) - w;
      const uint8_t* c = window.At(position, kHeaderBytes, &got);
      if (ParseHeader(codec, c, got, &h) && position + h.bytes <= size) {
        const uint8_t* n = window.At(position + h.bytes, kHeaderBytes, &got);
        if (position + h.bytes == size || ParseHeader(codec, n, got, &next)) break;
      }
      ++position;
    }
    // A DTS core's extensions follow it up to the next core.
    if (codec == Codec::kDts && !frames_.empty() &&
        frames_.back().offset + frames_.back().bytes == lost &&
        position - lost <= kMaxExtensionBytes)
      frames_.back().bytes += static_cast<int32_t>(position - lost);
  }
}

void AudioSource::CutLpcm(const std::vector<int64_t>& cuts) {
  const int channels = std::max(settings_.channels, 1);
  const int bits = settings_.lpcm_bits;
  // Samples are stored in groups: 16 bits one sample of every channel; 20
  // and 24 bits two (four for mono), the high 16 bits first.
  lpcm_unit_samples_ = bits == 16 ? 1 : channels == 1 ? 4 : 2;
  lpcm_unit_bytes_ = lpcm_unit_samples_ * channels * bits / 8;
  const int64_t units = file_.Size() / lpcm_unit_bytes_;
  const int64_t units_per_frame = kLpcmFrameSamples / lpcm_unit_samples_;
  // A packet starts at every time line, so that each begins a frame.
  auto cut_unit = [&](size_t c) { return (cuts[c] + lpcm_unit_bytes_ - 1) / lpcm_unit_bytes_; };
  size_t c = 0;
  for (int64_t u = 0; u < units;) {
    int64_t n = std::min(units_per_frame, units - u);
    while (c < cuts.size() && cut_unit(c) <= u) ++c;
    if (c < cuts.size()) n = std::min(n, cut_unit(c) - u);
    frames_.push_back({u * lpcm_unit_bytes_, static_cast<int32_t>(n * lpcm_unit_bytes_)});
    starts_.push_back(starts_.back() + n * lpcm_unit_samples_);
    u += n;
  }
  sample_rate_ = settings_.lpcm_rate;
}

void AudioSource::Place(const std::vector<tessmar::formats::MapAnchor>& anchors) {
  const size_t n = frames_.size();
  placed_.assign(n, {});
  for (size_t k = 0; k < n; ++k)
    placed_[k] = {starts_[k], 0, static_cast<int32_t>(starts_[k + 1] - starts_[k])};
  // The frame each time line names: the first that begins at or after it.
  std::vector<int64_t> target(n, INT64_MIN);
  const int64_t origin = anchors.empty() ? 0 : anchors.front().ticks;
  for (const tessmar::formats::MapAnchor& a : anchors) {
    auto it = std::lower_bound(frames_.begin(), frames_.end(), a.start,
                               [](const Frame& f, int64_t at) { return f.offset < at; });
    const size_t k = static_cast<size_t>(it - frames_.begin());
    if (k < n && target[k] == INT64_MIN)
      target[k] = (a.ticks - origin) * sample_rate_ / tessmar::formats::kAnchorTicksPerSecond;
  }
  const int64_t tolerance = int64_t{sample_rate_} * kAnchorToleranceMs / 1000;
  bool anchored = false;
  for (size_t k = 0; k < n; ++k) {
    const int64_t runs_on = k == 0 ? 0 : placed_[k - 1].at + (starts_[k] - starts_[k - 1]);
    int64_t at = runs_on;
    if (target[k] != INT64_MIN && (!anchored || std::abs(target[k] - runs_on) > tolerance)) {
      // The frames before the first time line lead up to it.
      if (!anchored)
        for (size_t j = 0; j < k; ++j) placed_[j].at += target[k] - runs_on;
      at = target[k];
      anchored = true;
    }
    placed_[k].at = at;
    // What the sound before runs past this frame's start is not heard.
    for (size_t j = k; j-- > 0 && placed_[j].at + placed_[j].to > at;)
      placed_[j].to = static_cast<int32_t>(std::max<int64_t>(placed_[j].from, at - placed_[j].at));
  }
  // Nothing is heard before the title's sound starts.
  ends_.assign(n, 0);
  int64_t end = 0;
  for (size_t k = 0; k < n; ++k) {
    Placement& p = placed_[k];
    if (p.at < 0)
      p.from = static_cast<int32_t>(std::min<int64_t>(p.to, std::max<int64_t>(p.from, -p.at)));
    if (p.to > p.from) end = std::max(end, p.at + p.to);
    ends_[k] = end;
  }
}

bool AudioSource::ResetDecoder(std::string* error) {
  avcodec_free_context(&codec_);
  int layer = 2;
  if (settings_.codec == Codec::kMpegAudio) {
    uint8_t head[4] = {0, 0, 0, 0};
    if (file_.Read(frames_[0].offset, head, sizeof head) == sizeof head)
      layer = 4 - ((head[1] >> 1) & 3);
  }
  const AVCodec* decoder = avcodec_find_decoder(CodecId(settings_.codec, layer));
  codec_ = decoder ? avcodec_alloc_context3(decoder) : nullptr;
  if (!codec_ || avcodec_open2(codec_, decoder, nullptr) < 0) {
    *error = "the audio decoder cannot be opened";
    return false;
  }
  return true;
}

bool AudioSource::Mix(const AVFrame* frame, std::vector<float>* out) {
  const int channels = settings_.channels;
  const int n = frame->nb_samples;
  const size_t at = out->size();
  if (settings_.codec == Codec::kLpcm) {
    // The stream's own channels, as 16 or 32-bit integers.
    if (frame->ch_layout.nb_channels != channels) return false;
    out->resize(at + static_cast<size_t>(n) * channels);
    float* o = out->data() + at;
    if (frame->format == AV_SAMPLE_FMT_S16) {
      const int16_t* s = reinterpret_cast<const int16_t*>(frame->data[0]);
      for (int i = 0; i < n * channels; ++i) o[i] = s[i] * (1.0f / 32768);
    } else if (frame->format == AV_SAMPLE_FMT_S32) {
      const int32_t* s = reinterpret_cast<const int32_t*>(frame->data[0]);
      for (int i = 0; i < n * channels; ++i)
        o[i] = static_cast<float>(s[i]) * (1.0f / 2147483648.0f);
    } else {
      return false;
    }
    return true;
  }
  const uint64_t mask =
      frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? frame->ch_layout.u.mask : 0;
  if (!mixer_ || mask != mixer_layout_ || frame->format != mixer_format_ ||
      frame->ch_layout.nb_channels != mixer_channels_) {
    swr_free(&mixer_);
    AVChannelLayout out_layout;
    av_channel_layout_default(&out_layout, channels);
    if (swr_alloc_set_opts2(&mixer_, &out_layout, AV_SAMPLE_FMT_FLT, frame->sample_rate,
                            const_cast<AVChannelLayout*>(&frame->ch_layout),
                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                            nullptr) < 0)
      return false;
    // Every source channel is kept: centre, surrounds and LFE are folded in
    // at -3 dB, and the mix is scaled so that it never clips.
    av_opt_set_double(mixer_, "center_mix_level", M_SQRT1_2, 0);
    av_opt_set_double(mixer_, "surround_mix_level", M_SQRT1_2, 0);
    av_opt_set_double(mixer_, "lfe_mix_level", M_SQRT1_2, 0);
    av_opt_set_double(mixer_, "rematrix_maxval", 1.0, 0);
    if (swr_init(mixer_) < 0) {
      swr_free(&mixer_);
      return false;
    }
    mixer_layout_ = mask;
    mixer_format_ = frame->format;
    mixer_channels_ = frame->ch_layout.nb_channels;
  }
  out->resize(at + static_cast<size_t>(n) * channels);
  uint8_t* o = reinterpret_cast<uint8_t*>(out->data() + at);
  const int mixed =
      swr_convert(mixer_, &o, n, const_cast<const uint8_t**>(frame->extended_data), n);
  if (mixed < 0) {
    out->resize(at);
    return false;
  }
  out->resize(at + static_cast<size_t>(mixed) * channels);
  return true;
}

bool AudioSource::Feed(int64_t k, std::vector<float>* out, std::string* error) {
  const Frame& f = frames_[static_cast<size_t>(k)];
  const bool lpcm = settings_.codec == Codec::kLpcm;
  const size_t head = lpcm ? kLpcmHeaderBytes : 0;
  bytes_.assign(head + static_cast<size_t>(f.bytes) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  if (file_.Read(f.offset, bytes_.data() + head, static_cast<size_t>(f.bytes)) !=
      static_cast<size_t>(f.bytes)) {
    *error = "the audio stream cannot be read (a file of its map shrank or failed)";
    return false;
  }
  if (lpcm) {
    // The decoder takes the stream's attributes from a packet header of its
    // own: quantisation, rate and channels; no dynamic range change.
    const int bits_code = (settings_.lpcm_bits - 16) / 4;
    const int rate_code = settings_.lpcm_rate == 96000 ? 1 : 0;
    bytes_[1] =
        static_cast<uint8_t>((bits_code << 6) | (rate_code << 4) | (settings_.channels - 1));
    bytes_[2] = 0x80;
  }
  packet_->data = bytes_.data();
  packet_->size = static_cast<int>(head + f.bytes);
  const int sent = avcodec_send_packet(codec_, packet_);
  packet_->data = nullptr;
  packet_->size = 0;
  if (out) out->clear();
  if (sent < 0 && sent != AVERROR(EAGAIN)) return true;  // undecodable: silence below
  while (avcodec_receive_frame(codec_, picture_) == 0) {
    if (out) Mix(picture_, out);
    av_frame_unref(picture_);
  }
  return true;
}

const std::vector<float>* AudioSource::Samples(int64_t k, std::string* error) {
  for (const Decoded& d : decoded_)
    if (d.frame == k) return &d.samples;
  if (k != next_) {
    // A jump: a fresh decoder, and the frames before k that its state
    // depends on.
    if (!ResetDecoder(error)) return nullptr;
    const int prime = settings_.codec == Codec::kLpcm ? 0 : kPrimeFrames;
    for (int64_t j = std::max<int64_t>(0, k - prime); j < k; ++j)
      if (!Feed(j, nullptr, error)) return nullptr;
  }
  Decoded d{k, {}};
  if (!Feed(k, &d.samples, error)) {
    next_ = -1;
    return nullptr;
  }
  next_ = k + 1;
  // Exactly the frame's own samples: silence for what the decoder did not
  // give, so that the frames after it keep their places.
  const size_t wanted = static_cast<size_t>(starts_[k + 1] - starts_[k]) * settings_.channels;
  d.samples.resize(wanted, 0.0f);
  if (decoded_.size() >= kKeptFrames) decoded_.erase(decoded_.begin());
  decoded_.push_back(std::move(d));
  return &decoded_.back().samples;
}

bool AudioSource::Read(int64_t start, int64_t count, float* out, std::string* error) {
  const int channels = settings_.channels;
  if (count <= 0) return true;
  std::memset(out, 0, static_cast<size_t>(count * channels) * sizeof(float));
  const int64_t end = start + count;
  // The first frame heard past `start`; frames are heard in their order.
  for (size_t k =
           static_cast<size_t>(std::upper_bound(ends_.begin(), ends_.end(), start) - ends_.begin());
       k < placed_.size(); ++k) {
    const Placement& p = placed_[k];
    if (p.to <= p.from) continue;
    const int64_t from = std::max(start, p.at + p.from);
    const int64_t to = std::min(end, p.at + p.to);
    if (p.at + p.from >= end) break;
    if (to <= from) continue;
    const std::vector<float>* samples = Samples(static_cast<int64_t>(k), error);
    if (!samples) return false;
    std::memcpy(out + (from - start) * channels, samples->data() + (from - p.at) * channels,
                static_cast<size_t>((to - from) * channels) * sizeof(float));
  }
  return true;
}

}  // namespace qmaudio
