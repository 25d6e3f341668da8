// Reading ahead on a second thread: while the index run scans one block of
// the title set, the next blocks are read from the files into buffers of
// their own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tessmar {

// A block of the stream: the bytes at [offset, offset + size).
struct Block {
  std::vector<uint8_t> data;
  int64_t offset = 0;
  size_t wanted = 0;  // the read asked for this many
  size_t size = 0;    // and got this many (fewer at a file that shrank)
};

class ReadAhead {
 public:
  // `read` fills `out` from stream offset `offset` and returns the bytes it
  // got; it is called on the reading thread only.
  using ReadFn = std::function<size_t(int64_t offset, uint8_t* out, size_t size)>;
  ReadAhead(ReadFn read, size_t block_size, int depth);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The block that holds stream offset `offset`, the blocks before it
  // dropped; reading starts again there when it lies elsewhere. Reads stop
  // at `end`. `*current` is the block given out before, taken back.
  void Get(int64_t offset, int64_t end, Block* current);

 private:
  void Run();
  void RestartAt(int64_t offset, int64_t end);  // with mutex_ held

  ReadFn read_;
  const size_t block_size_;
  const size_t depth_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> ready_;  // read, in stream order
  std::vector<Block> free_;  // buffers to read into
  int64_t next_ = 0;         // where the reading thread goes on
  int64_t end_ = 0;
  bool short_read_ = false;  // the last read came up short: nothing more
  uint64_t generation_ = 0;  // changes with every restart
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace tessmar
