#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

namespace producer {

// The content description of a RealMedia file: the four texts of its
// content header, and the keywords and rating of its file information.
struct ClipText {
  std::string title;
  std::string author;
  std::string copyright;
  std::string comment;
  std::string keywords;
  int rating = 0;
};

// The video stream: RealVideo 2.0 at an exact picture rate.
struct VideoStreamFormat {
  int width = 0;
  int height = 0;
  AVRational frame_rate{25, 1};
  int64_t average_bit_rate = 0;
  int64_t maximum_bit_rate = 0;
};

// The audio stream: AAC ("raac") frames of `frame_size` samples.
struct AudioStreamFormat {
  int sample_rate = 0;
  int channels = 0;
  int frame_size = 1024;
  int64_t bit_rate = 0;
};

// The largest piece of a video frame one packet holds: a packet's length is
// 16 bits, and its packet header and the frame header inside take 23 bytes.
inline constexpr int kMaxVideoPacketBytes = 65535 - 23;
// A larger frame is split over packets; FFmpeg's decoder joins a frame's
// data across two pieces at most, so that is the largest frame written.
inline constexpr int kMaxVideoFrameBytes = 2 * kMaxVideoPacketBytes;

// The codec's own bytes that end the video stream's codec data: a flags
// word and its version (RealVideo 2.0 coded as basic H.263); a reader hands
// them to its decoder as the stream's extra data.
inline constexpr uint8_t kRv20CodecBytes[8] = {0, 0, 0, 8, 0x20, 0x10, 0x30, 0x01};

// Bytes the file adds to a coded frame at most: the packet header, and for
// video the frame header inside the packet.
inline constexpr int64_t kVideoPacketOverhead = 24;
inline constexpr int64_t kAudioPacketOverhead = 12;
// The bytes the file adds to a coded video frame of `bytes`: the header of
// each packet it takes and the frame header inside.
int64_t VideoPacketOverhead(int64_t bytes);

// The name of part `part` (from 1) of an output that rolls over: the first
// keeps the name, later ones get "_<part>" before the extension.
std::string PartFileName(const std::string& first, int part);

// RealMedia output in parts: a new part is a complete file of its own that
// starts with a key frame. The headers are written with the file and
// rewritten in place when a part ends, once the packet counts are known.
// Counts the bytes it writes, so that the rate control sees the size on
// disk. Packets are written in the order they are given (the caller
// interleaves), each stamped with its time in the part.
class RealMediaOutput {
 public:
  ~RealMediaOutput();
  RealMediaOutput(const RealMediaOutput&) = delete;
  RealMediaOutput& operator=(const RealMediaOutput&) = delete;

  // `audio` may be null. Opens the first part. Null with `error` set.
  static std::unique_ptr<RealMediaOutput> Create(const std::string& path, const ClipText& text,
                                                 const VideoStreamFormat& video,
                                                 const AudioStreamFormat* audio,
                                                 std::string* error);

  // Coded video frame `frame` of the clip (frames left out leave a gap in
  // time). Frames up to kMaxVideoFrameBytes.
  bool WriteVideo(const uint8_t* data, int size, bool key, int64_t frame, std::string* error);
  // A coded audio frame that starts at `start_seconds` of the clip.
  bool WriteAudio(const uint8_t* data, int size, double start_seconds, std::string* error);

  // Ends the current part and opens the next one, whose clip time starts at
  // frame `first_frame`; the next video frame must be a key frame.
  bool StartNextPart(int64_t first_frame, std::string* error);
  // Ends the last part.
  bool Finish(std::string* error);
  // Ends what is open and removes every part written: nothing that looks
  // like output is left behind.
  void Discard();

  int64_t PartBytes() const { return part_bytes_; }
  int64_t TotalBytes() const { return closed_bytes_ + part_bytes_; }
  // The bytes a part grows by when it is ended.
  static constexpr int64_t kTrailerBytes = 8;
  const std::vector<std::string>& Files() const { return files_; }

 private:
  RealMediaOutput() = default;
  bool OpenPart(const std::string& path, std::string* error);
  bool ClosePart(std::string* error);
  std::vector<uint8_t> Header() const;
  bool Put(const std::vector<uint8_t>& bytes, std::string* error);
  bool PutPacket(int stream, uint32_t milliseconds, bool key, const std::vector<uint8_t>& head,
                 const uint8_t* data, int size, std::string* error);
  double Seconds(int64_t frame) const;

  std::string first_path_;
  ClipText text_;
  VideoStreamFormat video_;
  std::optional<AudioStreamFormat> audio_;
  std::FILE* file_ = nullptr;
  int64_t part_bytes_ = 0;
  int64_t closed_bytes_ = 0;
  int64_t part_first_frame_ = 0;
  // Per part and stream (0 video, 1 audio): packets, their bytes, the
  // largest, and the frames and the time they span.
  struct StreamCount {
    int64_t packets = 0;
    int64_t bytes = 0;
    int64_t largest = 0;
    int64_t frames = 0;
    uint32_t last_milliseconds = 0;
  };
  StreamCount counts_[2];
  std::vector<std::string> files_;
};

// What a RealMedia file's headers say, read back by walking its chunks.
struct RealMediaHeaderFacts {
  uint32_t packets = 0;  // the properties' and the data chunk's count, when they agree
  uint32_t duration_ms = 0;
  uint32_t max_bit_rate = 0;                      // of the video stream
  double frame_rate = 0;                          // of the video stream
  std::map<std::string, std::string> content;     // "title", "author", "copyright", "comment"
  std::map<std::string, std::string> properties;  // the file information, numbers as text
};
std::optional<RealMediaHeaderFacts> ReadRealMediaHeader(const std::string& path,
                                                        std::string* error);

}  // namespace producer
