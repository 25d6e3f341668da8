// VSFilter.dll through the installed frameserver: the sample's sub-pictures
// burnt in at the times the generator gave them, drawn as FFmpeg's overlay
// of the same stream draws them with the index's palette, on the picture's
// own size and on a resized one; frames without a sub-picture unchanged.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/outside/plugin_test_util.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

using kv_test::PluginTitle;
using kv_test::Quote;

// The frames [first, last] in which the generator showed each sub-picture
// (its times in ntsc_multi.subtitles.txt) at 30000/1001 frames a second.
std::vector<std::pair<int, int>> GeneratorIntervals() {
  std::ifstream in(kv_test::SampleDvdRoot() + "/ntsc_multi.subtitles.txt");
  std::vector<std::pair<int, int>> intervals;
  std::string line;
  auto frame = [](const std::string& hms) {  // first frame at or after the time
    int h, m;
    double s;
    std::sscanf(hms.c_str(), "%d:%d:%lf", &h, &m, &s);
    return static_cast<int>(std::ceil((h * 3600 + m * 60 + s) * 30000 / 1001 - 1e-9));
  };
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int index;
    std::string start, end;
    fields >> index >> start >> end;
    intervals.emplace_back(frame(start), frame(end) - 1);
  }
  return intervals;
}

struct Difference {
  int largest = 0;
  int64_t over_two = 0;  // bytes that differ by more than 2
};
Difference Compare(const std::string& a, const std::string& b) {
  Difference d;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int v =
        std::abs(static_cast<int>(static_cast<uint8_t>(a[i])) - static_cast<uint8_t>(b[i]));
    d.largest = std::max(d.largest, v);
    d.over_two += v > 2;
  }
  return d;
}

class VobSub : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new kv_test::TempDir("kv-vobsub");
    ASSERT_TRUE(kv_test::PreparePluginTitle(folder_->Path(), "ntsc_multi", 1, 1, &title_));
    ASSERT_TRUE(kv_test::WriteMapBytes(title_.Path(".vfm"), title_.Path(".mpg")));
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(kv_test::InstallFrameserver()); }

  static std::string Script(const std::string& lines) {
    const std::string path = title_.folder + "/out01.avs";
    kv_test::WriteFile(path,
                       "LoadPlugin(\"qmvideo.dll\")\r\nLoadPlugin(\"VSFilter.dll\")\r\n\r\n"
                       "video = qmVideoSource(\"" +
                           title_.key + ".qmvi\", idct=4, force_film=false)\r\n" + lines +
                           "video\r\n");
    return path;
  }
  // FFmpeg's frames of the title through `graph` ([0:v] and [0:s] in, [out]
  // out), its sub-picture decoder given the index's palette.
  static kv_test::RawFrames Ffmpeg(const std::string& graph, const std::string& name, int width,
                                   int height) {
    std::string palette;
    std::ifstream idx(title_.Path("_st0.idx"));
    std::string line;
    while (std::getline(idx, line))
      if (line.rfind("palette: ", 0) == 0) palette = line.substr(9);
    palette.erase(std::remove(palette.begin(), palette.end(), ' '), palette.end());
    const std::string raw = title_.folder + "/" + name;
    EXPECT_TRUE(kv_test::FfmpegFramesToFile(
        "-palette " + Quote(palette) + " -i " + Quote(title_.Path(".mpg")), graph, raw));
    return kv_test::RawFrames(raw, width, height);
  }

  static kv_test::TempDir* folder_;
  static PluginTitle title_;
};
kv_test::TempDir* VobSub::folder_ = nullptr;
PluginTitle VobSub::title_;

TEST_F(VobSub, SubpicturesShowAtTheirTimesDrawnAsFfmpegDrawsThem) {
  const kv_test::RawFrames plain = Ffmpeg("[0:v]null[out]", "plain.yuv", 720, 480);
  const kv_test::RawFrames overlay = Ffmpeg("[0:v][0:s]overlay[out]", "overlay.yuv", 720, 480);
  ASSERT_EQ(plain.Count(), 300);
  ASSERT_EQ(overlay.Count(), 300);
  std::vector<std::pair<int, int>> shown;  // runs of frames with a sub-picture
  int compared = 0;
  kv_test::ServedClip clip =
      kv_test::Serve(Script("video = VobSub(video, \"" + title_.key + "_st0.idx\")\r\n"),
                     kv_test::Pictures::kNone, false, [&](int64_t n, const std::string& planes) {
                       const std::string bare = plain.Frame(n);
                       if (planes == bare) return;  // unchanged where none shows
                       if (shown.empty() || shown.back().second != n - 1)
                         shown.emplace_back(static_cast<int>(n), static_cast<int>(n));
                       shown.back().second = static_cast<int>(n);
                       // FFmpeg shows a sub-picture from when its packet is read, which
                       // may be later than its time: compared where both show it.
                       const std::string theirs = overlay.Frame(n);
                       if (theirs == bare) return;
                       const Difference d = Compare(planes, theirs);
                       EXPECT_LE(d.largest, 2) << n;
                       ++compared;
                     });
  ASSERT_EQ(clip.error, "");
  EXPECT_EQ(shown, GeneratorIntervals());
  EXPECT_GT(compared, 100);
}

TEST_F(VobSub, OnAResizedPictureTheSubpicturesScaleWithIt) {
  // The job script's shape: crop and resize first, then the sub-pictures,
  // placed and sized as on the picture before resizing.
  const kv_test::RawFrames theirs = Ffmpeg(
      "[0:v]crop=704:480:8:0,scale=640:480:flags=lanczos[v];[0:s]scale=640:480:flags=bilinear[s];"
      "[v][s]overlay[out]",
      "resized.yuv", 640, 480);
  ASSERT_EQ(theirs.Count(), 300);
  int64_t over_two = 0, compared = 0;
  const auto intervals = GeneratorIntervals();
  kv_test::ServedClip clip = kv_test::Serve(
      Script("video = LanczosResize(video, 640, 480, 8, 0, 704, 480)\r\nvideo = VobSub(video, \"" +
             title_.key + "_st0.idx\")\r\n"),
      kv_test::Pictures::kNone, false, [&](int64_t n, const std::string& planes) {
        // Frames near the middle of each sub-picture's time, where FFmpeg
        // shows it too.
        for (const auto& [first, last] : intervals)
          if (n == (first + last) / 2 + 10) {
            over_two += Compare(planes, theirs.Frame(n)).over_two;
            compared += static_cast<int64_t>(planes.size());
          }
      });
  ASSERT_EQ(clip.error, "");
  ASSERT_GT(compared, 0);
  // Edges of the scaled bitmap round differently: a few hundred bytes of a
  // frame.
  EXPECT_LT(over_two * 1000, compared);
}

TEST_F(VobSub, MissingOrDamagedFilesAreScriptErrors) {
  kv_test::WriteFile(title_.folder + "/lonely_st0.idx", kv_test::ReadFile(title_.Path("_st0.idx")));
  for (const auto& [name, error] : std::vector<std::pair<std::string, std::string>>{
           {"gone_st0.idx", "cannot find the VobSub index"},
           {"lonely_st0.idx", "cannot read the sub-picture stream"},
           {title_.key + ".qmvi", "is not a VobSub index"}}) {
    kv_test::ServedClip clip = kv_test::Serve(Script("video = VobSub(video, \"" + name + "\")\r\n"),
                                              kv_test::Pictures::kNone, false);
    EXPECT_NE(clip.error.find(error), std::string::npos) << name << ": " << clip.error;
  }
}

}  // namespace
