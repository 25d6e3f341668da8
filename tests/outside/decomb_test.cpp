// Decomb.dll through the installed frameserver, in the job scripts' shapes:
// inverse telecine of the 3:2 film sample gives FFmpeg's decode of the
// progressive frames the generator encoded, the mixed-cadence sample serves
// no combed frame, and FieldDeinterlace on the interlaced sample.
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
  // The shape for 50-95 % film: each frame is one of the progressive frames,
  // in order; the shape for less film blends video cycles, uncombed.
  for (const char* line :
       {"video = Telecide(video, order=1, guide=1).Decimate(mode=3, threshold=1.0)\r\n",
        "video = Telecide(video, order=1, guide=1).Decimate(mode=1, threshold=1.0)\r\n"}) {
    SCOPED_TRACE(line);
    const bool exact = std::string(line).find("mode=3") != std::string::npos;
    size_t next = 0;  // the next coded frame a served one may be
    double worst = 1e9;
    int64_t combing = 0;
    kv_test::ServedClip clip = kv_test::Serve(
        Script("ntsc_mixed", false, line), kv_test::Pictures::kMeanLuma, false,
        [&](int64_t, const std::string& planes) {
          combing = std::max(combing, CombedPixels(planes, 720, 480));
          if (!exact) return;
          double best = 0;
          size_t at = next;
          for (size_t k = next; k < std::min<size_t>(coded.Count(), next + 3); ++k) {
            const double psnr = PlanesPsnr(planes, coded.Frame(static_cast<int64_t>(k)));
            if (psnr > best) best = psnr, at = k;
          }
          worst = std::min(worst, best);
          next = at + 1;
        });
    ASSERT_EQ(clip.error, "");
    EXPECT_EQ(clip.frames, 270 * 4 / 5);
    EXPECT_LE(combing, source_combing);
    if (exact) {
      EXPECT_GT(worst, 40.0);
    }
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

TEST_F(Decomb, DecimateKeepsFourOfFiveAndRefusesBadArguments) {
  kv_test::TempDir dir("kv-decomb-args");
  const std::string path = dir.File("a.avs");
  auto info = [&](const std::string& lines) {
    kv_test::WriteFile(path, "LoadPlugin(\"" KV_PROGRAM_FOLDER "/Decomb.dll\")\r\n" + lines);
    return kv_test::Serve(path, kv_test::Pictures::kNone, false);
  };
  for (const auto& [length, frames] : std::vector<std::pair<int, int>>{
           {2, 1}, {5, 4}, {7, 5}, {9, 7}, {10, 8}, {11, 8}, {301, 240}}) {
    kv_test::ServedClip c = info("BlankClip(length=" + std::to_string(length) +
                                 ", width=32, height=32, fps=30000, fps_denominator=1001, "
                                 "pattern=true)\r\nDecimate(cycle=5)\r\n");
    ASSERT_EQ(c.error, "") << length;
    EXPECT_EQ(c.frames, frames) << length;
    EXPECT_EQ(c.fps_numerator, 24000u);
    EXPECT_EQ(c.fps_denominator, 1001u);
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
