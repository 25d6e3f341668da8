// The index run's byte layer on its own: the start code search against a
// byte-by-byte search, and the reading ahead on its second thread (in
// order, skips within and past blocks, going back, a file that comes up
// short) against the bytes of the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include "tessmar/read_ahead.h"
#include "tessmar/start_code_scan.h"

namespace {

const uint8_t* Naive(const uint8_t* begin, const uint8_t* end) {
  for (const uint8_t* p = begin; end - p >= 4; ++p)
    if (p[0] == 0 && p[1] == 0 && p[2] == 1) return p;
  return nullptr;
}

TEST(StartCodeScan, FindsWhatAByteByByteSearchFinds) {
  std::mt19937 random(5);
  // Bytes rich in 00 and 01, so that prefixes and near misses abound.
  std::vector<uint8_t> bytes(1 << 16);
  for (uint8_t& b : bytes) {
    const unsigned r = random() % 16;
    b = r < 6 ? 0 : r < 8 ? 1 : static_cast<uint8_t>(random());
  }
  for (int trial = 0; trial < 4000; ++trial) {
    const size_t from = random() % 200, size = random() % 300;
    const uint8_t* begin = bytes.data() + from;
    const uint8_t* end = begin + size;
    ASSERT_EQ(tessmar::FindStartCodePrefix(begin, end), Naive(begin, end)) << from << " " << size;
  }
  // A prefix whose code byte would lie past the end is not found; one byte
  // more and it is, at every place of a long run of other bytes.
  for (size_t at = 0; at + 4 <= 100; ++at) {
    std::vector<uint8_t> run(100, 0x55);
    run[at] = run[at + 1] = 0;
    run[at + 2] = 1;
    EXPECT_EQ(tessmar::FindStartCodePrefix(run.data(), run.data() + at + 3), nullptr) << at;
    EXPECT_EQ(tessmar::FindStartCodePrefix(run.data(), run.data() + at + 4), run.data() + at);
  }
}

// A stream of known bytes read through ReadAhead; the "file" may shrink.
class ReadAheadStream : public ::testing::Test {
 protected:
  ReadAheadStream() : bytes_(5000) {
    for (size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<uint8_t>(i * 7 + i / 256);
  }
  tessmar::ReadAhead::ReadFn Reader() {
    return [this](int64_t offset, uint8_t* out, size_t size) {
      reads_.fetch_add(1);
      const int64_t have = available_.load();
      if (offset >= have) return size_t{0};
      const size_t n =
          static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), have - offset));
      std::memcpy(out, bytes_.data() + offset, n);
      return n;
    };
  }
  // The block holding `offset` must hold the stream's bytes.
  void ExpectBytes(const tessmar::Block& block, int64_t offset) {
    ASSERT_LE(block.offset, offset);
    for (size_t i = 0; i < block.size; ++i)
      ASSERT_EQ(block.data[i], bytes_[static_cast<size_t>(block.offset) + i]) << block.offset + i;
    if (block.size == block.wanted) {
      EXPECT_LT(offset, block.offset + static_cast<int64_t>(block.size));
    }
  }
  std::vector<uint8_t> bytes_;
  std::atomic<int64_t> available_{5000};
  std::atomic<int> reads_{0};
};

TEST_F(ReadAheadStream, BlocksInOrderWithSkipsAndRestarts) {
  tessmar::ReadAhead ahead(Reader(), 256, 3);
  tessmar::Block block;
  const int64_t end = 5000;
  // In order, block by block.
  int64_t at = 0;
  for (int i = 0; i < 6; ++i) {
    ahead.Get(at, end, &block);
    ExpectBytes(block, at);
    EXPECT_EQ(block.offset, at);
    at += static_cast<int64_t>(block.size);
  }
  // Into the middle of the next block, then past several blocks.
  for (int64_t target : {at + 100, at + 1000, at + 1001, int64_t{4990}}) {
    ahead.Get(target, end, &block);
    ExpectBytes(block, target);
  }
  // Back to the start: reading starts again there.
  ahead.Get(0, end, &block);
  ExpectBytes(block, 0);
  EXPECT_EQ(block.offset, 0);
  ahead.Get(256, end, &block);
  EXPECT_EQ(block.offset, 256);
  ExpectBytes(block, 256);
}

TEST_F(ReadAheadStream, AFileThatShrankEndsTheDataInAShortBlock) {
  available_ = 1100;  // the stream says 5000, the file holds 1100
  tessmar::ReadAhead ahead(Reader(), 256, 3);
  tessmar::Block block;
  int64_t at = 0;
  while (true) {
    ahead.Get(at, 5000, &block);
    ExpectBytes(block, at);
    if (block.size < block.wanted) break;
    at += static_cast<int64_t>(block.size);
  }
  EXPECT_EQ(block.offset + static_cast<int64_t>(block.size), 1100);
  // A skip past the end gets a short block that ends the data there at the
  // latest.
  tessmar::ReadAhead again(Reader(), 256, 3);
  again.Get(0, 5000, &block);
  again.Get(3000, 5000, &block);
  EXPECT_LE(block.offset, 3000);
  EXPECT_LE(block.offset + static_cast<int64_t>(block.size), 3000);
  EXPECT_LT(block.size, block.wanted);
}

}  // namespace
