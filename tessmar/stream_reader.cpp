#include "tessmar/stream_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tessmar/stream_codes.h"

namespace tessmar {

namespace {
// Large reads; the results are those of a scan that refills a 2048-byte
// buffer, since every position is kept in stream offsets.
constexpr size_t kBlockSize = 1024 * 1024;
constexpr int kReadAheadBlocks = 3;
}  // namespace

StreamReader::StreamReader(std::vector<InputFile> inputs) : inputs_(std::move(inputs)) {
  int64_t at = 0;
  for (const InputFile& in : inputs_) {
    starts_.push_back(at);
    at += in.size;
  }
  total_size_ = at;
  ComputeStreamEnd();
}

StreamReader::~StreamReader() {
  Close();
}

void StreamReader::Close() {
  read_ahead_.reset();  // joins the reading thread, which may be in a read
  for (size_t i = inputs_.size(); i-- > 0;) {
    if (inputs_[i].fd >= 0) ::close(inputs_[i].fd);
    inputs_[i].fd = -1;
  }
  block_ = Block();
  pos_ = len_ = 0;
}

void StreamReader::ComputeStreamEnd() {
  stream_end_ = 0;
  if (inputs_.empty()) return;
  int64_t stream = 0;
  size_t f = 0;
  int64_t p = 0;
  for (;;) {
    int64_t avail = inputs_[f].size - p;
    if (avail >= kSectorBytes) {
      int64_t whole = avail / kSectorBytes * kSectorBytes;
      p += whole;
      stream += whole;
      continue;
    }
    if (f + 1 < inputs_.size()) {
      int64_t need = kSectorBytes - avail;
      if (inputs_[f + 1].size >= need) {
        stream += kSectorBytes;
        ++f;
        p = need;
        continue;
      }
      stream_end_ = stream + avail + inputs_[f + 1].size;
    } else {
      stream_end_ = stream + avail;
    }
    return;
  }
}

void StreamReader::ReadAheadFromNowOn() {
  if (read_ahead_) return;
  read_ahead_ = std::make_unique<ReadAhead>(
      [this](int64_t offset, uint8_t* out, size_t size) { return ReadAt(offset, out, size); },
      kBlockSize, kReadAheadBlocks);
}

void StreamReader::Restart() {
  block_.offset = 0;
  pos_ = 0;
  len_ = 0;
}

size_t StreamReader::ReadAt(int64_t offset, uint8_t* out, size_t size) const {
  size_t done = 0;
  while (done < size && offset < total_size_) {
    Location at = Locate(offset);
    const InputFile& in = inputs_[static_cast<size_t>(at.file)];
    if (at.offset >= in.size) break;
    size_t chunk = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(size - done), in.size - at.offset));
    if (in.memory) {
      std::memcpy(out + done, in.memory + at.offset, chunk);
    } else {
      size_t part = 0;
      while (part < chunk) {
        ssize_t n = ::pread(in.fd, out + done + part, chunk - part, at.offset + part);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        part += static_cast<size_t>(n);
      }
      if (part < chunk) return done + part;
    }
    done += chunk;
    offset += static_cast<int64_t>(chunk);
  }
  return done;
}

void StreamReader::Refill() {
  if (check_) check_();
  const int64_t next = Position();
  if (next >= stream_end_) throw RunEnds{};
  if (read_ahead_) {
    read_ahead_->Get(next, stream_end_, &block_);
  } else {
    block_.offset = next;
    block_.wanted = static_cast<size_t>(std::min<int64_t>(kBlockSize, stream_end_ - next));
    block_.data.resize(block_.wanted);
    block_.size = ReadAt(next, block_.data.data(), block_.wanted);
  }
  // A file that shrank or cannot be read ends the data there.
  if (block_.size < block_.wanted)
    stream_end_ = std::min(stream_end_, block_.offset + static_cast<int64_t>(block_.size));
  pos_ = static_cast<size_t>(next - block_.offset);
  len_ = block_.size;
  if (pos_ >= len_) {
    pos_ = len_ = 0;
    block_.offset = next;
    throw RunEnds{};
  }
}

void StreamReader::Skip(int64_t n) {
  if (n <= 0) return;
  if (n <= static_cast<int64_t>(len_ - pos_)) {
    pos_ += static_cast<size_t>(n);
    return;
  }
  const int64_t target = Position() + n;
  if (target > stream_end_) throw RunEnds{};  // the data ends inside the packet
  // The next refill starts there.
  block_.offset = target;
  pos_ = 0;
  len_ = 0;
}

StreamReader::Location StreamReader::Locate(int64_t stream_offset) const {
  auto it = std::upper_bound(starts_.begin(), starts_.end(), stream_offset);
  int f = static_cast<int>(it - starts_.begin()) - 1;
  if (f < 0) f = 0;
  return {f, stream_offset - starts_[static_cast<size_t>(f)]};
}

StreamReader::Location StreamReader::CurrentRead() const {
  int64_t frontier = Position();
  if (frontier <= 0) return {0, 0};
  int64_t end = ((frontier - 1) / kSectorBytes + 1) * kSectorBytes;
  if (end > stream_end_) end = stream_end_;
  if (end < 1) end = 1;
  Location at = Locate(end - 1);
  return {at.file, at.offset + 1};
}

int StreamReader::NextStartCode(int64_t* start) {
  int zeros = 0;
  for (;;) {
    if (pos_ == len_) Refill();
    uint8_t b = block_.data[pos_++];
    if (b == 0) {
      ++zeros;
      continue;
    }
    if (b == 1 && zeros >= 2) {
      *start = Position() - 3;
      return Byte();
    }
    zeros = 0;
    const void* z = std::memchr(block_.data.data() + pos_, 0, len_ - pos_);
    pos_ = z ? static_cast<size_t>(static_cast<const uint8_t*>(z) - block_.data.data()) : len_;
  }
}

uint32_t StreamReader::ReadPts() {
  uint8_t b[kPtsBytes];
  for (uint8_t& x : b) x = static_cast<uint8_t>(Byte());
  return PtsLow32(b);
}

}  // namespace tessmar
