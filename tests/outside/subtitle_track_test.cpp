// The VobSub reader on its own: whatever picture size its index names, the
// bitmaps it hands out lie within the picture they are drawn on, so that a
// damaged index cannot make it hold more memory than that picture.
#include "outside/vsfilter/subtitle_track.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/outside/plugin_test_util.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(SubtitleTrack, BitmapsStayWithinThePictureWhateverSizeTheIndexNames) {
  kv_test::TempDir folder("kv-subtitle-track");
  kv_test::PluginTitle title;
  ASSERT_TRUE(kv_test::PreparePluginTitle(folder.Path(), "ntsc_multi", 1, 1, &title));
  const std::string idx = kv_test::ReadFile(title.Path("_st0.idx"));
  const size_t size_line = idx.find("size: 720x480");
  ASSERT_NE(size_line, std::string::npos);

  struct Case {
    const char* size;   // the index's picture size
    int width, height;  // the picture drawn on
    bool shows;         // the sample's sub-pictures lie on the index's picture
  };
  const Case cases[] = {
      {"720x480", 720, 480, true}, {"720x480", 352, 240, true},   {"1x1", 720, 480, false},
      {"2x2", 352, 240, false},    {"8192x8192", 720, 480, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.size) + " on " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    std::string text = idx;
    text.replace(size_line, 13, std::string("size: ") + c.size);
    kv_test::WriteFile(folder.File("t_st0.idx"), text);
    kv_test::WriteFile(folder.File("t_st0.sub"), kv_test::ReadFile(title.Path("_st0.sub")));
    std::string error;
    auto track =
        vsfilter::SubtitleTrack::Open(folder.File("t_st0.idx"), 0, c.width, c.height, &error);
    ASSERT_TRUE(track) << error;
    int shown = 0;
    for (int64_t t = 0; t < 90000 * 30; t += 4500) {
      const vsfilter::Shown* s = track->At(t);
      if (!s) continue;
      for (const vsfilter::Bitmap& b : s->bitmaps) {
        ++shown;
        EXPECT_GE(b.x, 0);
        EXPECT_GE(b.y, 0);
        EXPECT_LE(b.x + b.width, c.width);
        EXPECT_LE(b.y + b.height, c.height);
        EXPECT_EQ(b.alpha.size(), static_cast<size_t>(b.width) * b.height);
      }
    }
    EXPECT_EQ(shown > 0, c.shows) << shown;
  }
}

}  // namespace
