#include "outside/producer/sound_coder.h"

#include <algorithm>
#include <vector>

#include "outside/frameserver/video_file.h"
#include "outside/producer/frame_source.h"

namespace producer {
namespace {

// Frames whose sound is read at once.
constexpr int64_t kFramesPerRead = 25;
// Less sound than this says nothing of its rate (the codec's first frames
// are larger).
constexpr double kSecondsForARate = 1;
// The codec passes its nominal rate by up to about this much (it takes
// twice its lowest rate).
constexpr double kMostOverNominalRate = 2.5;

}  // namespace

SoundForecast ForecastSound(const AudioStore::Tally& coded, double frame_seconds, double seconds,
                            double bytes_per_second, double most_bytes_per_second) {
  const auto bytes = static_cast<double>(coded.bytes);
  if (coded.ended) return SoundForecast{bytes, 0};
  const double coded_seconds = static_cast<double>(coded.frames) * frame_seconds;
  const double rest = std::max(0.0, seconds - coded_seconds);
  const double rate = coded_seconds >= kSecondsForARate
                          ? std::max(bytes_per_second, bytes / coded_seconds)
                          : bytes_per_second;
  const double most = std::min(kMostOverNominalRate * bytes_per_second, most_bytes_per_second);
  return SoundForecast{bytes + rate * rest, std::max(0.0, most - rate) * rest};
}

SoundCoder::SoundCoder(kv_video_file::VideoFile& clip, AudioEncoder& encoder, AudioStore& store,
                       int64_t frames, ProcessorSlots* processors)
    : clip_(clip),
      encoder_(encoder),
      store_(store),
      frames_(frames),
      processors_(processors),
      limit_(frames) {
  // Held before any worker starts, given back when the sound has ended.
  if (processors_) processors_->Reserve();
  thread_ = std::thread([this] { Run(); });
}

SoundCoder::~SoundCoder() {
  EndAfter(0);
  if (thread_.joinable()) thread_.join();
}

void SoundCoder::EndAfter(int64_t frames) {
  int64_t limit = limit_.load();
  while (frames < limit && !limit_.compare_exchange_weak(limit, frames)) {
  }
}

bool SoundCoder::Wait(std::string* error) {
  if (thread_.joinable()) thread_.join();
  if (!error_.empty()) *error = error_;
  return error_.empty();
}

void SoundCoder::Run() {
  const kvfs_clip_info& info = clip_.Info();
  AudioEncoder::Sink store = [this](const uint8_t* data, int size, double start) {
    return store_.Add(data, size, start);
  };
  std::vector<float> samples;
  std::string error;
  bool ok = true;
  for (int64_t n = 0; ok && n < std::min(frames_, limit_.load()); n += kFramesPerRead) {
    const int64_t end = std::min(frames_, n + kFramesPerRead);
    const int64_t first = FirstSampleOfFrame(info, n);
    const int64_t count = FirstSampleOfFrame(info, end) - first;
    if (count <= 0) continue;
    samples.resize(static_cast<size_t>(count * info.channels));
    if (!clip_.Audio(first, count, KVFS_SAMPLE_FLOAT, samples.data())) {
      error = "the sound of frames " + std::to_string(n) + " to " + std::to_string(end - 1) + ": " +
              clip_.Error();
      ok = false;
      break;
    }
    ok = encoder_.Push(samples.data(), count, store, &error);
  }
  if (ok && limit_.load() > 0) ok = encoder_.Finish(store, &error);
  if (!ok) error_ = error.empty() ? "cannot code the sound" : error;
  store_.End();
  if (processors_) processors_->Unreserve();
}

}  // namespace producer
