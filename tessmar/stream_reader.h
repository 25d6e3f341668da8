// The VOB files of a title set read as one stream of bytes, positions kept
// as offsets in that stream. The stream ends where 2048-byte refills of the
// files would end it: a refill that comes up short takes the rest from the
// start of the next file only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tessmar/read_ahead.h"

namespace tessmar {

inline constexpr int kSectorBytes = 2048;

// One VOB file of the title set: an open descriptor, or bytes in memory.
struct InputFile {
  std::string path;
  int fd = -1;
  const uint8_t* memory = nullptr;
  int64_t size = 0;
};

// Thrown from inside the byte reading when the run must end there: the data
// ended (inside a packet, or a file could not be read), or the check at a
// refill or the packet parsing above it said so.
struct RunEnds {};

class StreamReader {
 public:
  struct Location {
    int file = 0;
    int64_t offset = 0;
  };

  explicit StreamReader(std::vector<InputFile> inputs);
  ~StreamReader();  // Close()
  StreamReader(const StreamReader&) = delete;
  StreamReader& operator=(const StreamReader&) = delete;

  const std::vector<InputFile>& Inputs() const { return inputs_; }
  int64_t StartOf(size_t file) const { return starts_[file]; }
  // Called at every refill; it may throw RunEnds (a stop request).
  void SetRefillCheck(std::function<void()> check) { check_ = std::move(check); }
  // From now on the next blocks are read on a second thread.
  void ReadAheadFromNowOn();
  // Stops the reading thread, lets its buffers go and closes the files, the
  // last first; nothing is read after it.
  void Close();

  // Back to the start of the stream.
  void Restart();
  int Byte() {
    if (pos_ == len_) Refill();
    return block_.data[pos_++];
  }
  int Read16() {
    int a = Byte();
    return (a << 8) | Byte();
  }
  uint32_t ReadPts();
  void Skip(int64_t n);
  int64_t Position() const { return block_.offset + static_cast<int64_t>(pos_); }
  Location Locate(int64_t stream_offset) const;
  // The file and the position in it after the last 2048-byte refill that
  // reached the current read position.
  Location CurrentRead() const;
  // 00 00 01 xx from the current position on; returns xx, its prefix's
  // position in *start.
  int NextStartCode(int64_t* start);
  // Up to `size` bytes at a stream offset, outside the scan's buffer.
  size_t ReadAt(int64_t stream_offset, uint8_t* out, size_t size) const;

  // The buffered bytes not read yet, for scans over memory.
  const uint8_t* Ahead() const { return block_.data.data() + pos_; }
  size_t AheadSize() const { return len_ - pos_; }
  void Advance(size_t n) { pos_ += n; }

 private:
  void ComputeStreamEnd();
  void Refill();

  std::vector<InputFile> inputs_;
  std::vector<int64_t> starts_;  // stream offset of each file
  int64_t total_size_ = 0;
  int64_t stream_end_ = 0;
  std::function<void()> check_;
  std::unique_ptr<ReadAhead> read_ahead_;
  Block block_;  // block_.offset: the stream offset of block_.data[0]
  size_t pos_ = 0;
  size_t len_ = 0;
};

}  // namespace tessmar
