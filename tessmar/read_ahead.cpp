#include "tessmar/read_ahead.h"

#include <algorithm>

namespace tessmar {

ReadAhead::ReadAhead(ReadFn read, size_t block_size, int depth)
    : read_(std::move(read)), block_size_(block_size), depth_(static_cast<size_t>(depth)) {
  for (size_t i = 0; i < depth_ + 1; ++i) free_.emplace_back();
  thread_ = std::thread(&ReadAhead::Run, this);
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ReadAhead::RestartAt(int64_t offset, int64_t end) {
  while (!ready_.empty()) {
    free_.push_back(std::move(ready_.front()));
    ready_.pop_front();
  }
  next_ = offset;
  end_ = end;
  short_read_ = false;
  ++generation_;
  changed_.notify_all();
}

void ReadAhead::Get(int64_t offset, int64_t end, Block* current) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (current->data.capacity() > 0) {
    free_.push_back(std::move(*current));
    changed_.notify_all();
  }
  *current = Block();
  if (end != end_) RestartAt(offset, end);
  for (;;) {
    // Blocks that a skip passed over.
    while (!ready_.empty() && ready_.front().size == ready_.front().wanted &&
           ready_.front().offset + static_cast<int64_t>(ready_.front().size) <= offset) {
      free_.push_back(std::move(ready_.front()));
      ready_.pop_front();
      changed_.notify_all();
    }
    if (!ready_.empty()) {
      // The block that holds the offset, or the short one the data ends in.
      if (ready_.front().offset <= offset) {
        *current = std::move(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
        return;
      }
      RestartAt(offset, end);  // behind the blocks read ahead
    } else if (short_read_ || offset < next_ ||
               offset >= next_ + static_cast<int64_t>(block_size_)) {
      RestartAt(offset, end);  // not where the reading goes on
    }
    changed_.wait(lock);
  }
}

void ReadAhead::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] {
      return stop_ || (!short_read_ && next_ < end_ && !free_.empty() && ready_.size() < depth_);
    });
    if (stop_) return;
    Block block = std::move(free_.back());
    free_.pop_back();
    block.offset = next_;
    block.wanted = static_cast<size_t>(std::min<int64_t>(block_size_, end_ - next_));
    // No more than is read: a short title set needs no block of full size.
    block.data.resize(block.wanted);
    const uint64_t generation = generation_;
    lock.unlock();
    block.size = read_(block.offset, block.data.data(), block.wanted);
    lock.lock();
    if (generation != generation_) {  // restarted meanwhile: the block is of no use
      free_.push_back(std::move(block));
      continue;
    }
    next_ = block.offset + static_cast<int64_t>(block.size);
    short_read_ = block.size < block.wanted;
    ready_.push_back(std::move(block));
    changed_.notify_all();
  }
}

}  // namespace tessmar
