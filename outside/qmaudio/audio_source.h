// One audio stream of a title, read through its audio map ("_at<n>.vfm":
// the stream's payloads in playing order), cut into frames by their headers,
// decoded with libavcodec and mixed to the channel count asked for. Any
// range of samples can be read in any order: after a jump a fresh decoder
// decodes the frames before the wanted one that its state depends on, so
// the samples are in place to the sample. Read in order from the start, the
// samples are the decoder's own sequential output; after a jump, dither
// noise of the AC-3 decoder (which draws on a generator running since the
// decoder's start) may differ in the lowest bits.
//
// A map with time lines places the sound on the title's time: the frame
// that a time line names is heard at its time (counted from the map's first
// time line, which the job's delay places), the frames after it run on from
// there; where the next time line comes earlier than that, the sound before
// it is cut short, and where it comes later, silence fills the gap. So the
// sound of a title made of parts keeps its place at every join.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "outside/qmaudio/frame_headers.h"
#include "tessmar/formats/virtual_file.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace qmaudio {

struct AudioSettings {
  Codec codec = Codec::kAc3;
  // Channels served. Compressed streams are mixed to 1, 2 or 6; LPCM is
  // served with the stream's own channels.
  int channels = 2;
  // LPCM only: the stream's rate, bits per sample (16, 20, 24), channels.
  int lpcm_rate = 48000;
  int lpcm_bits = 16;
};

class AudioSource {
 public:
  // Null with `error` set when the map cannot be read, its files opened, or
  // it holds no frame of the codec.
  static std::unique_ptr<AudioSource> Open(const std::string& map_path,
                                           const AudioSettings& settings, std::string* error);
  ~AudioSource();
  AudioSource(const AudioSource&) = delete;
  AudioSource& operator=(const AudioSource&) = delete;

  int SampleRate() const { return sample_rate_; }
  int Channels() const { return settings_.channels; }
  int64_t SampleCount() const { return ends_.empty() ? 0 : ends_.back(); }
  int64_t FrameCount() const { return static_cast<int64_t>(frames_.size()); }

  // Samples [start, start + count) of every channel, interleaved floats;
  // the range lies within the sound. A frame that cannot be decoded gives
  // silence. False with `error` set when the files cannot be read.
  bool Read(int64_t start, int64_t count, float* out, std::string* error);

 private:
  struct Frame {
    int64_t offset = 0;  // in the stream
    int32_t bytes = 0;
  };

  AudioSource() = default;
  bool Init(const std::string& map_path, const AudioSettings& settings, std::string* error);
  void FindFrames();
  void CutLpcm(const std::vector<int64_t>& cuts);
  // Where each frame is heard, after the map's time lines.
  void Place(const std::vector<tessmar::formats::MapAnchor>& anchors);
  // The samples of frame k (its own count, mixed); null when the stream's
  // bytes cannot be read.
  const std::vector<float>* Samples(int64_t k, std::string* error);
  bool ResetDecoder(std::string* error);
  // Sends frame k to the decoder; its output is mixed into `out` when given.
  bool Feed(int64_t k, std::vector<float>* out, std::string* error);
  bool Mix(const AVFrame* frame, std::vector<float>* out);

  AudioSettings settings_;
  tessmar::formats::VirtualFile file_;
  std::vector<Frame> frames_;
  std::vector<int64_t> starts_;  // first sample of each frame, and the total
  // Frame k's samples [from, to) are heard from sample at + from of the
  // title's sound; ends_[k] is the end of what frames 0 to k are heard.
  struct Placement {
    int64_t at = 0;
    int32_t from = 0, to = 0;
  };
  std::vector<Placement> placed_;
  std::vector<int64_t> ends_;
  int sample_rate_ = 0;
  int lpcm_unit_bytes_ = 0;
  int lpcm_unit_samples_ = 0;

  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* picture_ = nullptr;
  SwrContext* mixer_ = nullptr;
  uint64_t mixer_layout_ = 0;  // input layout mask the mixer was made for
  int mixer_format_ = -1;
  int mixer_channels_ = 0;
  std::vector<uint8_t> bytes_;
  int64_t next_ = -1;  // the frame the decoder's state is ready for
  // The last decoded frames' samples (mixed, interleaved), newest last: a
  // range that reaches back a little (a resampler's window) needs no jump.
  struct Decoded {
    int64_t frame = -1;
    std::vector<float> samples;
  };
  std::vector<Decoded> decoded_;
};

}  // namespace qmaudio
