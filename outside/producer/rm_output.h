#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace producer {

// The content description of a RealMedia file.
struct ClipText {
  std::string title;
  std::string author;
  std::string copyright;
  std::string comment;
};

// The largest video frame one RealMedia packet holds.
inline constexpr int kMaxVideoPacketBytes = 65535 - 23;

// The name of part `part` (from 1) of an output that rolls over: the first
// keeps the name, later ones get "_<part>" before the extension.
std::string PartFileName(const std::string& first, int part);

// RealMedia output through libavformat's muxer, in parts: a new part is a
// complete file of its own that starts with a key frame. Counts the bytes
// it writes, so that the rate control sees the size on disk, headers and
// packet overhead included. Packets are written in the order they are given
// (the caller interleaves), each one at once.
class RealMediaOutput {
 public:
  ~RealMediaOutput();
  RealMediaOutput(const RealMediaOutput&) = delete;
  RealMediaOutput& operator=(const RealMediaOutput&) = delete;

  // `audio` may be null. Opens the first part. Null with `error` set.
  static std::unique_ptr<RealMediaOutput> Create(const std::string& path, const ClipText& text,
                                                 const AVCodecContext* video,
                                                 const AVCodecContext* audio, std::string* error);

  // A coded video frame; the next frame of the part.
  bool WriteVideo(const uint8_t* data, int size, bool key, std::string* error);
  // A coded audio frame that starts at `start_seconds` of the clip.
  bool WriteAudio(const uint8_t* data, int size, double start_seconds, std::string* error);

  // Ends the current part and opens the next one, whose clip time starts at
  // `start_seconds`; the next video frame must be a key frame.
  bool StartNextPart(double start_seconds, std::string* error);
  // Ends the last part.
  bool Finish(std::string* error);

  int64_t PartBytes() const;
  int64_t TotalBytes() const { return closed_bytes_ + PartBytes(); }
  // The bytes a part grows by when it is ended.
  static constexpr int64_t kTrailerBytes = 8;
  const std::vector<std::string>& Files() const { return files_; }

 private:
  RealMediaOutput() = default;
  bool OpenPart(const std::string& path, std::string* error);
  bool ClosePart(std::string* error);

  std::string first_path_;
  ClipText text_;
  AVCodecParameters* video_parameters_ = nullptr;
  AVCodecParameters* audio_parameters_ = nullptr;
  AVRational frame_rate_{0, 1};
  AVFormatContext* context_ = nullptr;
  int patch_fd_ = -1;  // a second handle on the part, for the audio time stamps
  int64_t video_frames_ = 0;
  int64_t audio_frames_ = 0;
  double part_start_seconds_ = 0;
  int64_t closed_bytes_ = 0;
  std::vector<std::string> files_;
};

}  // namespace producer
