#pragma once

#include <QByteArray>
#include <QImage>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "outside/frameserver/video_file.h"
#include "outside/player/picture_converter.h"

namespace player {

// Reads an opened clip on a worker thread ahead of playback: pictures as
// 32-bit RGB images and the sound as interleaved 16-bit samples. The
// frameserver is used by the worker alone.
class ClipReader {
 public:
  explicit ClipReader(std::unique_ptr<kv_video_file::VideoFile> clip);
  ~ClipReader();
  ClipReader(const ClipReader&) = delete;
  ClipReader& operator=(const ClipReader&) = delete;

  const kvfs_clip_info& Info() const { return info_; }
  bool HasSound() const { return info_.audio_rate > 0 && info_.channels > 0; }

  // Reading starts again at `frame`, the sound at the frame's first sample.
  void Seek(int64_t frame);

  struct Picture {
    int64_t frame = -1;
    QImage image;
  };
  // The latest picture read for a frame up to `frame`; pictures before it
  // are dropped. None while the worker has not got there.
  std::optional<Picture> TakePicture(int64_t frame);
  // Up to `max_bytes` of the sound read since the last Seek.
  QByteArray TakeSound(qsizetype max_bytes);
  // The reason reading stopped, empty while it goes on.
  std::string Error() const;

 private:
  void Run();
  bool ReadPicture(int64_t frame, Picture* picture);

  std::unique_ptr<kv_video_file::VideoFile> clip_;
  const kvfs_clip_info info_;
  PictureConverter converter_;  // the worker's

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t generation_ = 0;  // grows with every Seek
  int64_t seek_frame_ = 0;
  std::deque<Picture> pictures_;
  QByteArray sound_;
  std::string error_;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace player
