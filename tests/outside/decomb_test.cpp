// Decomb.dll through the installed frameserver, in the job scripts' shapes:
// inverse telecine of the 3:2 film sample gives FFmpeg's decode of the
// progressive frames the generator encoded, the mixed-cadence sample serves
// no combed frame (its repeats dropped or blended as the mode asks, its
// video kept or blended), and FieldDeinterlace on the interlaced sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/outside/plugin_test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

using kv_test::PluginTitle;
using kv_test::Quote;

// Second-field luma pixels that lie beyond both first-field neighbours by
// more than 20 levels on the same side: the classic sign of combing.
int64_t CombedPixels(const std::string& planes, int width, int height) {
  const auto* p = reinterpret_cast<const uint8_t*>(planes.data());
  int64_t count = 0;
  for (int y = 1; y + 1 < height; y += 2)
    for (int x = 0; x < width; ++x) {
      const int m = p[y * width + x], a = p[(y - 1) * width + x], b = p[(y + 1) * width + x];
      count += (m - a > 20 && m - b > 20) || (a - m > 20 && b - m > 20);
    }
  return count;
}

// a × (256 - weight) / 256 + b × weight / 256, rounded.
std::string Blend(const std::string& a, const std::string& b, int weight) {
  std::string out(a.size(), '\0');
  for (size_t i = 0; i < a.size(); ++i)
    out[i] = static_cast<char>(
        (static_cast<uint8_t>(a[i]) * (256 - weight) + static_cast<uint8_t>(b[i]) * weight + 128) >>
        8);
  return out;
}

double PlanesPsnr(const std::string& a, const std::string& b) {
  return kv_test::Psnr(reinterpret_cast<const uint8_t*>(a.data()),
                       reinterpret_cast<const uint8_t*>(b.data()), a.size());
}

class Decomb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new kv_test::TempDir("kv-decomb");
    for (const char* disc : {"ntsc_film", "ntsc_mixed", "pal_sync"}) {
      kv_test::MakeFolders(folder_->File(disc));
      ASSERT_TRUE(kv_test::PreparePluginTitle(folder_->File(disc), disc, 1, 1, &titles_[disc]));
    }
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(kv_test::InstallFrameserver()); }

  // A job script over the title with these lines after the source.
  static std::string Script(const std::string& disc, bool force_film, const std::string& lines) {
    const PluginTitle& t = titles_[disc];
    const std::string path = t.folder + "/out01.avs";
    kv_test::WriteFile(path,
                       "LoadPlugin(\"qmvideo.dll\")\r\nLoadPlugin(\"Decomb.dll\")\r\n\r\n"
                       "video = qmVideoSource(\"" +
                           t.key + ".qmvi\", idct=4, force_film=" +
                           (force_film ? "true" : "false") + ")\r\n" + lines + "video\r\n");
    return path;
  }
  // FFmpeg's decode of the title's coded frames.
  static kv_test::RawFrames CodedFrames(const std::string& disc, int width, int height) {
    const PluginTitle& t = titles_[disc];
    const bool ok = kv_test::WriteMapBytes(t.Path(".vfm"), t.Path(".mpg")) &&
                    kv_test::FfmpegFramesToFile("-i " + Quote(t.Path(".mpg")), "", t.Path(".yuv"));
    return kv_test::RawFrames(ok ? t.Path(".yuv") : "", width, height);
  }

  static kv_test::TempDir* folder_;
  static std::map<std::string, PluginTitle> titles_;
};
kv_test::TempDir* Decomb::folder_ = nullptr;
std::map<std::string, PluginTitle> Decomb::titles_;

TEST_F(Decomb, InverseTelecineGivesTheFilmsProgressiveFrames) {
  const kv_test::RawFrames coded = CodedFrames("ntsc_film", 720, 480);
  ASSERT_EQ(coded.Count(), 240);
  kv_test::ServedClip film =
      kv_test::Serve(Script("ntsc_film", true, ""), kv_test::Pictures::kNone, false);
  ASSERT_EQ(film.error, "");
  double worst = 1e9;
  kv_test::ServedClip ivtc = kv_test::Serve(
      Script("ntsc_film", false, "video = Telecide(video, order=1).Decimate(cycle=5)\r\n"),
      kv_test::Pictures::kMeanLuma, false, [&](int64_t n, const std::string& planes) {
        if (n < coded.Count()) worst = std::min(worst, PlanesPsnr(planes, coded.Frame(n)));
      });
  ASSERT_EQ(ivtc.error, "");
  // As many frames as forced film gives, at its rate, each the frame the
  // generator encoded.
  EXPECT_EQ(ivtc.frames, film.frames);
  EXPECT_EQ(ivtc.frames, 240);
  EXPECT_EQ(ivtc.fps_numerator * film.fps_denominator, film.fps_numerator * ivtc.fps_denominator);
  EXPECT_GT(worst, 40.0);
}

TEST_F(Decomb, MixedCadenceServesNoCombedFrame) {
  const kv_test::RawFrames coded = CodedFrames("ntsc_mixed", 720, 480);
  ASSERT_EQ(coded.Count(), 240);
  // The progressive frames themselves show this much "combing" (fine
  // detail and noise); a frame woven of two of them shows several times more.
  int64_t source_combing = 0;
  for (int64_t k = 0; k < coded.Count(); ++k)
    source_combing = std::max(source_combing, CombedPixels(coded.Frame(k), 720, 480));
  // The sample serves 150 frames of 3:2 film (120 pictures, one in five
  // repeated) and then 120 frames of video, each a picture of its own.
  struct Shape {
    const char* line;
    int64_t frames;
    uint32_t fps_numerator;
    int pictures;  // served as they are
    int blends;    // served as a blend of two neighbours
  };
  const Shape shapes[] = {
      // Mostly film: the film loses its repeats, each video cycle of five is
      // blended into four (the first of each shown as it is).
      {"video = Telecide(video, order=1, guide=1).Decimate(mode=3, threshold=1.0)\r\n", 216, 24000,
       120 + 24, 24 * 3},
      // Mostly video: the count and the rate stay; each film repeat becomes
      // the blend of its neighbours, and the video is untouched.
      {"video = Telecide(video, order=1, guide=1).Decimate(mode=1, threshold=1.0)\r\n", 270, 30000,
       240, 30},
  };
  constexpr size_t kLuma = 720 * 480;
  auto luma = [&](int64_t k) { return coded.Frame(k).substr(0, kLuma); };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.line);
    // Each served frame is, in order, one of the next coded pictures or a
    // blend of two neighbouring ones; the best match of its luma counts.
    int64_t next = 0, reached = -1;
    double worst = 1e9;
    int pictures = 0, blends = 0;
    int64_t combing = 0;
    std::map<int64_t, std::string> window;  // luma of the coded pictures near `next`
    kv_test::ServedClip clip = kv_test::Serve(
        Script("ntsc_mixed", false, shape.line), kv_test::Pictures::kNone, false,
        [&](int64_t, const std::string& planes) {
          combing = std::max(combing, CombedPixels(planes, 720, 480));
          const std::string served = planes.substr(0, kLuma);
          const int64_t from = std::max<int64_t>(next - 1, 0);
          const int64_t to = std::min(coded.Count(), next + 3);
          std::erase_if(window, [&](const auto& e) { return e.first < from; });
          for (int64_t k = from; k < to; ++k)
            if (!window.count(k)) window[k] = luma(k);
          double best = 0;
          int64_t after = next;
          bool blend = false;
          for (int64_t k = from; k < to; ++k) {
            if (k >= next) {
              const double psnr = PlanesPsnr(served, window[k]);
              if (psnr > best) best = psnr, after = k + 1, blend = false;
            }
            // A blend mixes the last picture shown with the next, or the
            // next two.
            if (k > next || k + 1 >= to) continue;
            for (const int weight : {64, 128, 192}) {
              const double psnr = PlanesPsnr(served, Blend(window[k], window[k + 1], weight));
              if (psnr > best) best = psnr, after = k + 1, blend = true;
            }
          }
          worst = std::min(worst, best);
          next = after;
          reached = std::max(reached, blend ? after : after - 1);
          ++(blend ? blends : pictures);
        });
    ASSERT_EQ(clip.error, "");
    EXPECT_EQ(clip.frames, shape.frames);
    EXPECT_EQ(clip.fps_numerator, shape.fps_numerator);
    EXPECT_EQ(clip.fps_denominator, 1001u);
    EXPECT_GT(worst, 40.0);
    EXPECT_EQ(pictures, shape.pictures);
    EXPECT_EQ(blends, shape.blends);
    EXPECT_EQ(reached, coded.Count() - 1);  // the last picture is shown
    EXPECT_LE(combing, source_combing);
  }
}

TEST_F(Decomb, FieldDeinterlaceMendsCombedFramesAndLeavesTheOthers) {
  kv_test::ServedClip source =
      kv_test::Serve(Script("pal_sync", false, ""), kv_test::Pictures::kAll, false);
  ASSERT_EQ(source.error, "");
  const int w = source.width, h = source.height;
  // The sample combs wherever it moves.
  int64_t source_most = 0;
  for (const std::string& f : source.frame)
    source_most = std::max(source_most, CombedPixels(f, w, h));
  ASSERT_GT(source_most, 1000);
  for (bool full : {false, true}) {
    SCOPED_TRACE(full ? "full" : "not full");
    int64_t mended_most = 0, untouched_most = 0, untouched = 0;
    kv_test::ServedClip clip = kv_test::Serve(
        Script("pal_sync", false,
               std::string("video = FieldDeinterlace(video, full=") + (full ? "true" : "false") +
                   ")\r\n"),
        kv_test::Pictures::kNone, false, [&](int64_t n, const std::string& planes) {
          const std::string& in = source.frame[static_cast<size_t>(n)];
          // The top field is kept, row for row.
          for (int y = 0; y < h; y += 2)
            ASSERT_EQ(
                planes.compare(static_cast<size_t>(y) * w, w, in, static_cast<size_t>(y) * w, w), 0)
                << n << " row " << y;
          // The white flash frames do not comb: left untouched.
          if (!full && source.mean_luma[static_cast<size_t>(n)] > 128) {
            EXPECT_EQ(planes, in) << n;
          }
          if (planes == in) {
            ++untouched;
            untouched_most = std::max(untouched_most, CombedPixels(planes, w, h));
          } else {
            mended_most = std::max(mended_most, CombedPixels(planes, w, h));
          }
        });
    ASSERT_EQ(clip.error, "");
    ASSERT_EQ(clip.frames, source.frames);
    // Mended frames comb nowhere; a frame left as it was shows at most a
    // few stray pixels (coding noise), a tenth of what movement shows.
    EXPECT_EQ(mended_most, 0);
    EXPECT_LE(untouched_most, source_most / 10);
    EXPECT_GE(untouched, full ? 0 : 5);
  }
}

TEST_F(Decomb, DecimateCountsAndRefusesBadArguments) {
  kv_test::TempDir dir("kv-decomb-args");
  const std::string path = dir.File("a.avs");
  auto info = [&](const std::string& lines) {
    kv_test::WriteFile(path, "LoadPlugin(\"" KV_PROGRAM_FOLDER "/Decomb.dll\")\r\n" + lines);
    return kv_test::Serve(path, kv_test::Pictures::kMeanLuma, false);  // every frame served
  };
  struct Count {
    int length;
    const char* call;
    int frames;
    uint32_t fps_numerator;
  };
  for (const Count& count : std::vector<Count>{{2, "cycle=5", 1, 24000},
                                               {5, "cycle=5", 4, 24000},
                                               {7, "cycle=5", 5, 24000},
                                               {9, "cycle=5", 7, 24000},
                                               {10, "cycle=5", 8, 24000},
                                               {11, "cycle=5", 8, 24000},
                                               {301, "cycle=5", 240, 24000},
                                               {301, "mode=3, threshold=1.0", 240, 24000},
                                               {301, "mode=1, threshold=1.0", 301, 30000},
                                               {1, "mode=1, threshold=1.0", 1, 30000}}) {
    const std::string line = std::to_string(count.length) + " Decimate(" + count.call + ")";
    kv_test::ServedClip c = info("BlankClip(length=" + std::to_string(count.length) +
                                 ", width=32, height=32, fps=30000, fps_denominator=1001, "
                                 "pattern=true)\r\nDecimate(" +
                                 count.call + ")\r\n");
    ASSERT_EQ(c.error, "") << line;
    EXPECT_EQ(c.frames, count.frames) << line;
    EXPECT_EQ(c.fps_numerator, count.fps_numerator) << line;
    EXPECT_EQ(c.fps_denominator, 1001u) << line;
  }
  for (const auto& [lines, error] : std::vector<std::pair<std::string, std::string>>{
           {"BlankClip(length=1)\r\nDecimate()", "shorter than one cycle"},
           {"BlankClip()\r\nTelecide(order=2)", "line 3, column 1: Telecide: order must be 0 or 1"},
           {"BlankClip()\r\nDecimate(cycle=1)", "cycle must be from 2 to 25"},
           {"BlankClip()\r\nDecimate(mode=4)", "mode must be from 0 to 3"},
           {"BlankClip(pixel_type=\"RGB24\")\r\nFieldDeinterlace()",
            "FieldDeinterlace: the clip must have a YV12 picture"}}) {
    EXPECT_NE(info(lines + "\r\n").error.find(error), std::string::npos) << lines;
  }
}

}  // namespace
