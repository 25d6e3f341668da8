#pragma once

#include <QByteArray>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "outside/frameserver/video_file.h"
#include "outside/player/frame_source.h"
#include "outside/player/picture_converter.h"

namespace player {

// Reads an opened clip on a worker thread ahead of playback: pictures as
// 32-bit RGB images and the sound as interleaved 16-bit samples. The sound
// is read first, since its device is the clock the pictures follow. The
// frameserver is used by the worker alone.
class ClipReader : public FrameSource {
 public:
  explicit ClipReader(std::unique_ptr<kv_video_file::VideoFile> clip);
  ~ClipReader() override;
  ClipReader(const ClipReader&) = delete;
  ClipReader& operator=(const ClipReader&) = delete;

  const kvfs_clip_info& Info() const { return info_; }
  bool HasSound() const { return info_.audio_rate > 0 && info_.channels > 0; }

  void Seek(int64_t frame) override;
  void SkipTo(int64_t frame) override;
  std::optional<Picture> TakePicture(int64_t frame) override;
  int64_t NextFrame() const override;
  std::string Error() const override;

  // Up to `max_bytes` of the sound read since the last Seek.
  QByteArray TakeSound(qsizetype max_bytes);
  // The sound read since the last Seek has all been taken and none is left.
  bool SoundDone() const;

 private:
  void Run();
  void ReadSound(uint64_t generation);
  void ReadPicture(uint64_t generation);
  bool WantSound() const;
  bool WantPicture() const;

  std::unique_ptr<kv_video_file::VideoFile> clip_;
  const kvfs_clip_info info_;
  PictureConverter converter_;  // the worker's

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t generation_ = 0;  // grows with every Seek
  int64_t next_frame_ = 0;
  int64_t next_sample_ = 0;
  std::deque<Picture> pictures_;
  QByteArray sound_;
  std::string error_;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace player
