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
  static std::vector<std::string> CodedFrames(const std::string& disc, int width, int height) {
    const PluginTitle& t = titles_[disc];
    if (!kv_test::WriteMapBytes(t.Path(".vfm"), t.Path(".mpg"))) return {};
    return kv_test::FfmpegFrames("-i " + Quote(t.Path(".mpg")), "", width, height);
  }

  static kv_test::TempDir* folder_;
  static std::map<std::string, PluginTitle> titles_;
};
kv_test::TempDir* Decomb::folder_ = nullptr;
std::map<std::string, PluginTitle> Decomb::titles_;

TEST_F(Decomb, InverseTelecineGivesTheFilmsProgressiveFrames) {
  const std::vector<std::string> coded = CodedFrames("ntsc_film", 720, 480);
  ASSERT_EQ(coded.size(), 240u);
  kv_test::ServedClip film =
      kv_test::Serve(Script("ntsc_film", true, ""), kv_test::Pictures::kNone, false);
  ASSERT_EQ(film.error, "");
  double worst = 1e9;
  kv_test::ServedClip ivtc = kv_test::Serve(
      Script("ntsc_film", false, "video = Telecide(video, order=1).Decimate(cycle=5)\r\n"),
      kv_test::Pictures::kMeanLuma, false, [&](int64_t n, const std::string& planes) {
        if (n < static_cast<int64_t>(coded.size()))
          worst = std::min(worst, PlanesPsnr(planes, coded[static_cast<size_t>(n)]));
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
  const std::vector<std::string> coded = CodedFrames("ntsc_mixed", 720, 480);
  ASSERT_EQ(coded.size(), 240u);
  // The progressive frames themselves show this much "combing" (fine
  // detail and noise); a frame woven of two of them shows several times more.
  int64_t source_combing = 0;
  for (const std::string& f : coded)
    source_combing = std::max(source_combing, CombedPixels(f, 720, 480));
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
    kv_test::ServedClip clip =
        kv_test::Serve(Script("ntsc_mixed", false, line), kv_test::Pictures::kMeanLuma, false,
                       [&](int64_t, const std::string& planes) {
                         combing = std::max(combing, CombedPixels(planes, 720, 480));
                         if (!exact) return;
                         double best = 0;
                         size_t at = next;
                         for (size_t k = next; k < std::min(coded.size(), next + 3); ++k) {
                           const double psnr = PlanesPsnr(planes, coded[k]);
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
  for (bool full : {false, true}) {
    SCOPED_TRACE(full ? "full" : "not full");
    int64_t most = 0;
    kv_test::ServedClip clip = kv_test::Serve(
        Script("pal_sync", false,
               std::string("video = FieldDeinterlace(video, full=") + (full ? "true" : "false") +
                   ")\r\n"),
        kv_test::Pictures::kMeanLuma, false, [&](int64_t n, const std::string& planes) {
          const std::string& in = source.frame[static_cast<size_t>(n)];
          // The top field is kept, row for row.
          for (int y = 0; y < h; y += 2)
            ASSERT_EQ(
                planes.compare(static_cast<size_t>(y) * w, w, in, static_cast<size_t>(y) * w, w), 0)
                << n << " row " << y;
          // The white flash frames are not combed: served untouched.
          if (!full && source.mean_luma[static_cast<size_t>(n)] > 128) {
            EXPECT_EQ(planes, in) << n;
          }
          most = std::max(most, CombedPixels(planes, w, h));
        });
    ASSERT_EQ(clip.error, "");
    ASSERT_EQ(clip.frames, source.frames);
    EXPECT_EQ(most, 0);
  }
  // The sample combs where it moves.
  int64_t combed = 0;
  for (const std::string& f : source.frame) combed = std::max(combed, CombedPixels(f, w, h));
  EXPECT_GT(combed, 1000);
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
