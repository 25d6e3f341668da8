// Replays seed images and deterministic damage of them through the fuzz entry,
// so that builds without libFuzzer still run the reader over hostile bytes
// (under the sanitizer presets, out-of-bounds reads fail here).
#include <gtest/gtest.h>

#include <random>

#include "tests/dvd/ifo_fuzz_entry.h"
#include "tests/dvd/ifo_image.h"

namespace {

TEST(IfoCorpus, SeedsAndTheirDamageAreReadSafely) {
  std::mt19937 random(20240607);
  size_t runs = 0;
  for (const std::vector<uint8_t>& seed : kv_test::SeedImages()) {
    EXPECT_TRUE(kv_test::AskEveryIfoQuestion(seed.data(), seed.size()));
    // Every truncation point inside the header fields and the table start.
    for (size_t cut = 0; cut < seed.size(); cut += (cut < 2048 + 64 ? 61 : 509)) {
      std::vector<uint8_t> truncated(seed.begin(), seed.begin() + cut);
      EXPECT_TRUE(kv_test::AskEveryIfoQuestion(truncated.data(), truncated.size())) << cut;
      ++runs;
    }
    // Random bytes written over the fields the reader looks at.
    const size_t hot[] = {0xCC, 0xCF, 0x203, 0x255, 2048, 2052, 2060, 2064, 2048 + 8 * 31 + 0xE8};
    for (int round = 0; round < 2000; ++round) {
      std::vector<uint8_t> damaged = seed;
      for (int n = 0; n < 4; ++n) {
        size_t at = random() % 2 ? hot[random() % std::size(hot)] : random() % damaged.size();
        if (at < damaged.size()) damaged[at] = static_cast<uint8_t>(random());
      }
      EXPECT_TRUE(kv_test::AskEveryIfoQuestion(damaged.data(), damaged.size())) << round;
      ++runs;
    }
  }
  EXPECT_GT(runs, 6000u);  // the damage loops really ran
}

}  // namespace
