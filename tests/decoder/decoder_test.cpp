// The program's side of the decoder: the open flag and record, the frame
// request rules, and border detection, over sample titles that tessmar cuts
// out; the margin rules on frames drawn here.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "decoder/border_detection.h"
#include "decoder/video_decoder.h"
#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"

namespace {

using decoder::BorderRect;
using decoder::DarkMargins;
using decoder::VideoInfo;

// ------------------------------------------------------------- pure rules

// A frame of one grey level with rectangles of another.
struct Picture {
  Picture(int w, int h, uint8_t level) : width(w), height(h), bgr(size_t(w) * h * 3, level) {}
  void Fill(int top, int left, int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    for (int y = top; y < top + h; ++y)
      for (int x = left; x < left + w; ++x) {
        uint8_t* p = &bgr[(size_t(y) * width + x) * 3];
        p[0] = b, p[1] = g, p[2] = r;
      }
  }
  int width, height;
  std::vector<uint8_t> bgr;
};

TEST(DarkMargins, CountsDarkLinesFromEachEdge) {
  Picture p(64, 48, 0);
  p.Fill(5, 3, 64 - 3 - 7, 48 - 5 - 2, 200, 200, 200);
  EXPECT_EQ(decoder::MeasureDarkMargins(p.bgr.data(), 64, 48), (DarkMargins{5, 2, 3, 7}));
}

TEST(DarkMargins, ALineIsDarkUpToAMeanOfTwenty) {
  // Rows 0-1 at exactly 20.0, row 2 at a mean of 20.33, then bright.
  Picture p(10, 10, 200);
  p.Fill(0, 0, 10, 2, 20, 20, 20);
  p.Fill(2, 0, 10, 1, 21, 20, 20);
  EXPECT_EQ(decoder::MeasureDarkMargins(p.bgr.data(), 10, 10).Top, 2);
  // A row dark on average although a few pixels are bright.
  Picture q(10, 10, 200);
  q.Fill(0, 0, 10, 1, 0, 0, 0);
  q.Fill(0, 0, 1, 1, 200, 200, 0);  // mean of the row: 400 / 3 / 10 = 13.3
  EXPECT_EQ(decoder::MeasureDarkMargins(q.bgr.data(), 10, 10).Top, 1);
}

TEST(DarkMargins, ColumnsOverTheWholeHeight) {
  // A dark left column with one bright pixel in 40 rows: mean 255/40 = 6.4.
  Picture p(20, 40, 128);
  p.Fill(0, 0, 2, 40, 0, 0, 0);
  p.Fill(10, 0, 1, 1, 255, 255, 255);
  EXPECT_EQ(decoder::MeasureDarkMargins(p.bgr.data(), 20, 40).Left, 2);
}

TEST(DarkMargins, AllBlackFrameCountsTheWholePicture) {
  Picture p(16, 12, 16);
  EXPECT_EQ(decoder::MeasureDarkMargins(p.bgr.data(), 16, 12), (DarkMargins{12, 12, 16, 16}));
  // ... which gives the whole picture.
  EXPECT_EQ(decoder::BordersFromMargins({{12, 12, 16, 16}}, 16, 12), (BorderRect{0, 0, 16, 12}));
}

TEST(BordersFromMargins, SmallestMarginsOverTheSamples) {
  // Darkest samples with 72 rows at the top and 70 at the bottom, no sides.
  std::vector<DarkMargins> samples = {{80, 70, 0, 5}, {72, 90, 3, 0}, {576, 576, 720, 720}};
  EXPECT_EQ(decoder::BordersFromMargins(samples, 720, 576), (BorderRect{72, 0, 720, 434}));
  // Margins that meet count as none, each pair on its own.
  EXPECT_EQ(decoder::BordersFromMargins({{300, 276, 10, 12}}, 720, 576),
            (BorderRect{0, 10, 698, 576}));
  EXPECT_EQ(decoder::BordersFromMargins({{3, 4, 400, 320}}, 720, 576),
            (BorderRect{3, 0, 720, 569}));
}

TEST(BorderSampleFrames, TwentyFramesSpreadOverTheTitle) {
  EXPECT_EQ(decoder::BorderSampleFrames(20), std::vector<int32_t>(20, 0));
  std::vector<int32_t> spread = decoder::BorderSampleFrames(300);  // step 14
  ASSERT_EQ(spread.size(), 20u);
  EXPECT_EQ(spread.front(), 14);
  EXPECT_EQ(spread.back(), 280);
  for (int32_t n : decoder::BorderSampleFrames(1)) EXPECT_EQ(n, 0);
}

TEST(FilmFlag, TruncatedFilmShareOfAtLeastOne) {
  EXPECT_FALSE(decoder::FilmFlag(0.0f));
  EXPECT_FALSE(decoder::FilmFlag(0.99f));
  EXPECT_TRUE(decoder::FilmFlag(1.0f));
  EXPECT_TRUE(decoder::FilmFlag(95.23f));
}

// ------------------------------------------------------- over sample titles

class DecoderSample : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { folder_ = new kv_test::TempDir("decoder-test"); }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!std::filesystem::is_directory(kv_test::SampleDvdRoot()))
      GTEST_SKIP() << "no sample discs at " << kv_test::SampleDvdRoot();
  }
  void TearDown() override { decoder::CloseVideo(); }
  static std::string Title(const kv_test::SampleTitle& t) {
    std::string qmvi = kv_test::PrepareSampleTitle(folder_->Path(), t);
    EXPECT_FALSE(qmvi.empty()) << kv_test::TitleName(t);
    return qmvi;
  }
  static kv_test::TempDir* folder_;
};
kv_test::TempDir* DecoderSample::folder_ = nullptr;

TEST_F(DecoderSample, OpenSetsTheFlagAndKeepsTheRecord) {
  const std::string pal = Title({"pal_letterbox", 1, 1});
  EXPECT_FALSE(decoder::VideoIsOpen());
  EXPECT_EQ(decoder::GetFrame(0), nullptr);
  VideoInfo info;
  ASSERT_TRUE(decoder::OpenVideo(pal, false, &info));
  EXPECT_EQ(info, (VideoInfo{720, 576, 300}));  // 12 s of PAL
  EXPECT_TRUE(decoder::VideoIsOpen());
  EXPECT_EQ(decoder::OpenVideoInfo(), info);

  // Frames only within 0 ... count - 1.
  EXPECT_NE(decoder::GetFrame(0), nullptr);
  EXPECT_NE(decoder::GetFrame(299), nullptr);
  EXPECT_EQ(decoder::GetFrame(300), nullptr);
  EXPECT_EQ(decoder::GetFrame(-1), nullptr);
  EXPECT_TRUE(decoder::VideoIsOpen());  // a refused request changes nothing

  decoder::CloseVideo();
  EXPECT_FALSE(decoder::VideoIsOpen());
  EXPECT_EQ(decoder::OpenVideoInfo(), VideoInfo());
  EXPECT_EQ(decoder::GetFrame(0), nullptr);
  decoder::CloseVideo();  // nothing open: nothing happens
  EXPECT_FALSE(decoder::VideoIsOpen());
}

TEST_F(DecoderSample, OpeningAnotherTitleClosesTheFirst) {
  const std::string pal = Title({"pal_letterbox", 1, 1});
  const std::string film = Title({"ntsc_film", 1, 1});
  ASSERT_TRUE(decoder::OpenVideo(pal, false));
  VideoInfo info;
  // Counting the film title's frames (film flag 0) and previewing it with
  // film flag 1 give the displayed and the coded frames.
  ASSERT_TRUE(decoder::OpenVideo(film, false, &info));
  EXPECT_EQ(info, (VideoInfo{720, 480, 300}));
  ASSERT_TRUE(decoder::OpenVideo(film, true, &info));
  EXPECT_EQ(info, (VideoInfo{720, 480, 240}));
  EXPECT_NE(decoder::GetFrame(239), nullptr);
  EXPECT_EQ(decoder::GetFrame(240), nullptr);

  // A failed open leaves nothing open, the earlier title closed too.
  EXPECT_FALSE(decoder::OpenVideo(film + ".missing", true, &info));
  EXPECT_EQ(info, VideoInfo());
  EXPECT_FALSE(decoder::VideoIsOpen());
  EXPECT_EQ(decoder::GetFrame(0), nullptr);
}

TEST_F(DecoderSample, FramesAreTheTitlesFrames) {
  const std::string film = Title({"ntsc_film", 1, 1});
  const std::vector<uint32_t> theirs =
      kv_test::FfmpegFrameCrcs(kv_test::WriteTitleBytes(film), false, 720, 480);
  ASSERT_EQ(theirs.size(), 240u);
  ASSERT_TRUE(decoder::OpenVideo(film, true));
  for (int n : {0, 119, 120, 239, 1}) {
    const uint8_t* f = decoder::GetFrame(n);
    ASSERT_NE(f, nullptr) << n;
    EXPECT_EQ(kv_test::FrameCrc(f, 720, 480), theirs[n]) << n;
  }
}

TEST_F(DecoderSample, BordersOfTheLetterboxedTitle) {
  // The generator put 72 black rows at the top and 88 at the bottom.
  const int top = std::stoi(kv_test::SampleFact("pal_letterbox", "bars_top"));
  const int bottom = std::stoi(kv_test::SampleFact("pal_letterbox", "bars_bottom"));
  for (int pgc : {1, 2}) {
    for (bool film : {false, true}) {
      SCOPED_TRACE("pgc " + std::to_string(pgc) + (film ? " film" : ""));
      BorderRect rect;
      ASSERT_TRUE(decoder::DetectBorders(Title({"pal_letterbox", 1, pgc}), film, &rect));
      EXPECT_EQ(rect, (BorderRect{top, 0, 720, 576 - top - bottom}));
    }
  }
}

TEST_F(DecoderSample, BordersOfFullPictureTitles) {
  for (const kv_test::SampleTitle& t : kv_test::AllSampleTitles()) {
    if (std::string(t.disc) == "pal_letterbox") continue;
    SCOPED_TRACE(kv_test::TitleName(t));
    BorderRect rect;
    ASSERT_TRUE(decoder::DetectBorders(Title(t), false, &rect));
    const int height = std::string(t.disc).rfind("pal_", 0) == 0 ? 576 : 480;
    EXPECT_EQ(rect, (BorderRect{0, 0, 720, height}));
  }
}

TEST_F(DecoderSample, BorderDetectionWorksWithoutTheFlag) {
  const std::string pal = Title({"pal_letterbox", 1, 1});
  ASSERT_TRUE(decoder::OpenVideo(pal, false));
  BorderRect rect;
  ASSERT_TRUE(decoder::DetectBorders(pal, false, &rect));
  // The preview was closed for it and stays closed.
  EXPECT_FALSE(decoder::VideoIsOpen());
  EXPECT_EQ(decoder::GetFrame(0), nullptr);
  EXPECT_FALSE(decoder::DetectBorders(pal + ".missing", false, &rect));
}

TEST_F(DecoderSample, BorderDetectionFailsOnAnUndecodableSample) {
  // The title's VOB replaced by one that holds only its first GOPs: the
  // open works (the index is fine), the later samples cannot be decoded.
  kv_test::TempDir dir("decoder-borders");
  const std::string film = Title({"ntsc_film", 1, 1});
  const std::string base = film.substr(0, film.size() - 5);
  std::string map = kv_test::ReadFile(base + ".vfm");
  const std::string vob = kv_test::SampleVideoTs("ntsc_film") + "/VTS_01_1.VOB";
  const size_t at = map.find(vob);
  ASSERT_NE(at, std::string::npos);
  map.replace(at, vob.size(), dir.File("VTS_01_1.VOB"));
  std::string bytes = kv_test::ReadFile(vob);
  // Same size (the map checks it), zeros after the first half.
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2), bytes.end(), '\0');
  kv_test::WriteFile(dir.File("VTS_01_1.VOB"), bytes);
  const std::string name = kv_test::TitleName({"ntsc_film", 1, 1});
  kv_test::WriteFile(dir.File(name + ".vfm"), map);
  kv_test::WriteFile(dir.File(name + ".qmvi"), kv_test::ReadFile(film));
  VideoInfo info;
  ASSERT_TRUE(decoder::OpenVideo(dir.File(name + ".qmvi"), true, &info));
  EXPECT_NE(decoder::GetFrame(0), nullptr);
  EXPECT_EQ(decoder::GetFrame(info.FrameCount - 1), nullptr);
  decoder::CloseVideo();
  BorderRect rect;
  EXPECT_FALSE(decoder::DetectBorders(dir.File(name + ".qmvi"), true, &rect));
}

}  // namespace
